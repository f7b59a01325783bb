// Byte sources built from fuzz input, shared by the link-layer fuzzers.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zr::fuzz {

// Single-byte reads from fuzz bytes. When `gap` is not 0, every byte equal
// to it stands for an empty read (-1) instead; past the end every read is
// empty.
struct GappedReads {
    const uint8_t* data;
    size_t size;
    uint8_t gap;
    size_t next = 0;
    int operator()() {
        if (next >= size) return -1;
        const uint8_t b = data[next++];
        return gap != 0 && b == gap ? -1 : b;
    }
    bool done() const { return next >= size; }
};

}  // namespace zr::fuzz
