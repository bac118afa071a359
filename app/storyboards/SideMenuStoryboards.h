#pragma once
// The side menu's part of the main storyboard and the help storyboards.
#include "platform/uikit/UIStoryboard.h"

// Makes the side-menu container ("SideMenuController") the main storyboard's initial scene, with
// the scene `frontScene` in front ("sm_front") and the side menu ("rightMenu") at the right
// ("sm_right").
void addSideMenuScenes(UIStoryboardDefinition& main, const std::string& frontScene);
// Registers "HelpVC" (the help screen) and "dbaHelpVC" (the dB chart page).
void registerHelpStoryboards();
