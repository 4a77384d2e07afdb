#pragma once
// The hardware address of the first non-loopback interface with an IPv4 address.

// Writes "xx:xx:xx:xx:xx:xx:" (lower-case, 18 characters and the terminator)
// into out, which must hold at least 19 bytes. False, out untouched, when no
// suitable interface is found.
bool GetMacAddress(char* out);
