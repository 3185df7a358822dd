// The process environment: reading one variable and setting one for code
// that reads it later (a plug-in loaded afterwards, a child process).
//
// Owns nothing. environmentValue may be called from any thread;
// setEnvironmentValue only while no other thread reads the environment
// (early in main, before threads start or plug-ins load).
#pragma once

#include <string>

#include "platform/failure.h"

namespace kw {

// True and *value set when the variable `name` exists (it may be empty).
bool environmentValue(const char* name, std::string* value);

// Sets the variable `name` to `value`, replacing an older value.
Failure setEnvironmentValue(const char* name, const char* value);

}  // namespace kw
