#pragma once
// Whether the automatic profile logic is built in: the device inputs service's observation of
// route changes, its check for an external microphone, the default profile at start-up and the
// new-input popup that follows a connected microphone. It is the CMake option
// SA_AUTOMATIC_PROFILE_LOGIC (off by default), handed to the code as a compile definition of the
// libraries that read it.
//
// Only the sources that the build compiles once per setting may include this header; every other
// source is shared by both settings, so a value read there would be the wrong one in one of them.
// The build gives the definition to those sources alone, and without it this header does not
// compile.
#ifndef SA_AUTOMATIC_PROFILE_LOGIC
#error "SA_AUTOMATIC_PROFILE_LOGIC is set by the build for the sources compiled once per setting"
#endif

inline constexpr bool kAutomaticProfileLogicEnabled = SA_AUTOMATIC_PROFILE_LOGIC != 0;
