// Where the program's messages go. Library code writes its messages (the run's progress,
// files generated or not written, faults it prints itself) only to a sink its caller gives
// it; the program's own sink is standard output.
#pragma once

#include <iosfwd>
#include <sstream>
#include <string>
#include <string_view>

class MessageSink {
  public:
    virtual ~MessageSink();
    virtual void write(std::string_view text) = 0;
    // Hands what was written on to its destination now (a line the user must see before
    // the program goes on).
    virtual void flush() {}
};

// Writes to a stream, unbuffered by the sink itself, so that its text keeps its order
// with whatever else goes to the same stream.
class StreamSink : public MessageSink {
  public:
    explicit StreamSink(std::ostream& out);
    void write(std::string_view text) override;
    void flush() override;

  private:
    std::ostream& out_;
};

// Takes every message and keeps none.
class NullSink : public MessageSink {
  public:
    void write(std::string_view) override {}
};

// The sink on standard output (std::cout): the default of the run's options.
MessageSink& standard_output();

// Formats `parts` as a fresh stream does (numbers in the default format, six significant
// digits) and writes the text to `sink`.
template <class... Parts>
void tell(MessageSink& sink, const Parts&... parts) {
    std::ostringstream text;
    (text << ... << parts);
    sink.write(text.str());
}
