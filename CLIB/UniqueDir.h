#pragma once
// Owns one open directory stream and closes it when it goes.

#include <dirent.h>

#include <memory>

struct DirCloser {
    void operator()(DIR* dir) const { closedir(dir); }
};
using UniqueDir = std::unique_ptr<DIR, DirCloser>;
