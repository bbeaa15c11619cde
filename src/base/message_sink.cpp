#include "base/message_sink.h"

#include <iostream>

MessageSink::~MessageSink() = default;

StreamSink::StreamSink(std::ostream& out) : out_(out) {}

void StreamSink::write(std::string_view text) {
    out_.write(text.data(), static_cast<std::streamsize>(text.size()));
}

void StreamSink::flush() { out_.flush(); }

MessageSink& standard_output() {
    static StreamSink sink(std::cout);
    return sink;
}
