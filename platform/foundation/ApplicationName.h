#pragma once
// The application's name, and the names made from it by which its stored files, its settings and
// its place on the audio server are found. Every one of them is relied on by files already stored
// (the home folder, the fallback defaults suite) or by the people and scripts that set them (the
// environment variables), so none may change.
inline constexpr const char* kApplicationName = "spectrum-analyser";

// The folder that holds the application's home, overriding the data folder below.
inline constexpr const char* kHomeEnvironmentVariable = "SPECTRUM_ANALYSER_HOME";
// The folder of the bundle's resources, overriding the compiled-in one.
inline constexpr const char* kResourcesEnvironmentVariable = "SPECTRUM_ANALYSER_RESOURCES";
// Set to anything but "0", GL counts as unavailable and views draw with Cairo.
inline constexpr const char* kNoGLEnvironmentVariable = "SPECTRUM_ANALYSER_NO_GL";
