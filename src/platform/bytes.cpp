#include "platform/bytes.h"

#include "platform/text.h"

namespace tessaro {

ByteWriter& ByteWriter::fixedText(std::string_view text, size_t width) {
    size_t at = out_.size();
    out_.resize(at + width, 0);
    if (width > 0) CopyToField(reinterpret_cast<char*>(out_.data() + at), width, text);
    return *this;
}

}  // namespace tessaro
