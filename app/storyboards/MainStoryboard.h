#pragma once
// The main storyboard ("Main"): a navigation controller, its bar hidden, with the analyser screen
// ("analyzer") as its root. registerAppStoryboards registers every storyboard of the application.
inline constexpr const char* kMainStoryboardName = "Main";

void registerAppStoryboards();
