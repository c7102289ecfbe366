// Owned C streams: closed when their owner goes, on every path.
#pragma once

#include <cstdio>
#include <memory>

namespace vendrak {

struct file_closer {
    void operator()(std::FILE* f) const {
        if (f) std::fclose(f);
    }
};
using file_ptr = std::unique_ptr<std::FILE, file_closer>;

}  // namespace vendrak
