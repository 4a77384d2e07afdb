#pragma once
// Process identity. Programs are started with ChildProcess, never through a shell.

// True when the effective user id is 0.
bool IsRoot();
