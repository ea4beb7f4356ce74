#include "capture_bytes.h"

#include <algorithm>
#include <ostream>

namespace veldar {

CaptureBytes& CaptureBytes::operator=(std::string_view bytes) {
    clear();
    return append(bytes);
}

CaptureBytes& CaptureBytes::append(std::string_view bytes) {
    // The first block grows as a string does up to a block's size, so that a short dump takes
    // little; the next ones are reserved whole and never grow.
    if (blocks_.empty()) blocks_.emplace_back();
    ByteString* last = &blocks_.back();
    const bool full = blocks_.size() == 1
                          ? !last->empty() && last->size() + bytes.size() > BlockSize
                          : last->size() + bytes.size() > last->capacity();
    if (full) {
        last = &blocks_.emplace_back();
        last->reserve(std::max(BlockSize, bytes.size()));
    }
    last->append(bytes);
    size_ += bytes.size();
    return *this;
}

void CaptureBytes::clear() {
    std::vector<ByteString>().swap(blocks_);
    size_ = 0;
}

std::vector<std::string_view> CaptureBytes::Pieces() const {
    return {blocks_.begin(), blocks_.end()};
}

ByteString CaptureBytes::str() const {
    ByteString joined;
    joined.reserve(size_);
    for (const ByteString& block : blocks_)
        joined += block;
    return joined;
}

bool operator==(const CaptureBytes& capture, std::string_view bytes) {
    if (capture.size_ != bytes.size()) return false;
    for (const ByteString& block : capture.blocks_) {
        if (bytes.substr(0, block.size()) != block) return false;
        bytes.remove_prefix(block.size());
    }
    return true;
}

std::ostream& operator<<(std::ostream& out, const CaptureBytes& capture) {
    return out << capture.str();
}

} // namespace veldar
