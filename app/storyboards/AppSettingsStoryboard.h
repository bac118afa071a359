#pragma once
// The storyboard "AppSettings": the profile list ("inputProfilesTable", with its prototype cell
// "audionInputCell" and the "+" button) and the tuning screen ("microphoneProfileSetup").
inline constexpr const char* kAppSettingsStoryboardName = "AppSettings";

void registerAppSettingsStoryboard();
