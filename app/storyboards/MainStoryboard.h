#pragma once
// The main storyboard ("Main"): the side-menu container ("SideMenuController") with, in front, a
// navigation controller, its bar hidden, whose root is the analyser screen ("analyzer"), and the
// side menu ("rightMenu") at the right. registerAppStoryboards registers every storyboard of the
// application (also "HelpVC" and "dbaHelpVC").
inline constexpr const char* kMainStoryboardName = "Main";

void registerAppStoryboards();
