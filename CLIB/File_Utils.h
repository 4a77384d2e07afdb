#pragma once
// File tests, positioned reads and unpacking of ZIP archives.

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>

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
// files are replaced); unzip is started without a shell. exitStatus (may be
// null) gets unzip's exit code, -1 when it did not run to its end.
bool Unzip(const char* archive, const char* target = nullptr, int* exitStatus = nullptr);
// unzip's exit code for a disk that was full.
inline constexpr int kUnzipDiskFull = 50;

// Creates path anew with data and then mode: whatever stood there goes
// first, the file is made exclusively and never through a link, and it is
// readable by others only once complete. 0, or the error number; a file that
// could not be written whole is removed.
int WriteNewFile(const std::string& path, const void* data, size_t size, mode_t mode);
// A folder of our own at path, mode 0700: made when missing, never through
// a link, refused when another user owns it. 0, or the error number.
int MakePrivateFolder(const std::string& path);
// Removes everything below path, never following a link; path stays.
// The number of entries removed.
int RemoveFolderContents(const std::string& path);
