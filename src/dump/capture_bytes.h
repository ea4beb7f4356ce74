// The payloads of a dump in memory, kept in blocks that never move: a long dump grows without
// the copy that a single string makes each time it doubles, when both copies are in memory.
#pragma once

#include "com_types.h"

#include <cstddef>
#include <iosfwd>
#include <string_view>
#include <vector>

namespace veldar {

class CaptureBytes {
public:
    CaptureBytes() = default;
    CaptureBytes(std::string_view bytes) { append(bytes); }
    CaptureBytes& operator=(std::string_view bytes);

    // Appends the bytes whole to one block.
    CaptureBytes& append(std::string_view bytes);
    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    // Forgets the bytes and gives their memory back.
    void clear();

    // The blocks in order, for a write that takes them one after the other.
    std::vector<std::string_view> Pieces() const;
    ByteString str() const;

    friend bool operator==(const CaptureBytes& capture, std::string_view bytes);
    friend std::ostream& operator<<(std::ostream& out, const CaptureBytes& capture);

private:
    // Large enough that a million records make a few dozen blocks, small enough that the last
    // one's unused part does not count.
    static constexpr std::size_t BlockSize = std::size_t{1} << 20;
    std::vector<ByteString> blocks_;
    std::size_t size_ = 0;
};

} // namespace veldar
