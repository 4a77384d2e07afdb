#pragma once
// File tests, positioned reads and unpacking of ZIP archives.

#include <cstddef>
#include <cstdint>

// path (or path + "/" + name) is not empty and stat() succeeds on it.
bool FileExists(const char* path, const char* name = nullptr);
bool IsDirectory(const char* path);
// Exists and is not a directory.
bool IsFile(const char* path);
// Size of the path itself (links are not followed); 0 when unknown.
uint64_t FileSize(const char* path);

// Regular files only. A negative offset counts back from the end; count 0
// with offset >= 0 reads up to the whole file size. The descriptor's position
// is left where it was. True when the read did not fail; bytesRead (may be
// null) gets the number of bytes read.
bool ReadAt(int fd, void* buffer, int64_t offset, size_t count, size_t* bytesRead);

// The file opens and starts with "PK".
bool IsZipFile(const char* path);

// Unpacks the archive with "unzip -oqq", into target when given (existing
// files are replaced); unzip is started without a shell.
bool Unzip(const char* archive, const char* target = nullptr);
