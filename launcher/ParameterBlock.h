#pragma once
// Access to the patched ParameterBlock of this executable.

#include <cstddef>
#include <string>

inline constexpr std::size_t kParameterTextSize = 1024;
inline constexpr std::size_t kParameterBlockSize = 1026;
inline constexpr std::size_t kSessionEnabledOffset = 1024;
inline constexpr std::size_t kAutoRemoveEnabledOffset = 1025;

extern "C" unsigned char ParameterBlock[kParameterBlockSize];

// The text area up to its first zero byte, never more than 1024 bytes, so a
// patched block without a terminator cannot run into the flags.
std::string ParameterBlockText();

unsigned char SessionEnabled();
unsigned char AutoRemoveEnabled();
void SetSessionEnabled(unsigned char value);
void SetAutoRemoveEnabled(unsigned char value);
