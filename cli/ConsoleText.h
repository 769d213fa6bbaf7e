#pragma once

// Standard output and error on a Windows console: the program's text is UTF-8, and a console
// shows UTF-8 only once its code page is changed, which would change it for the shell that
// started the program too. Text for a console goes to it as UTF-16 instead (WriteConsoleW),
// whatever its code page; a character split between two writes is held until it is whole.

#include <functional>
#include <streambuf>
#include <string>
#include <string_view>

namespace kelvara::cli {

class TConsoleText : public std::streambuf {
  public:
    // write hands text to the console; false when it could not.
    explicit TConsoleText(std::function<bool(std::wstring_view)> write);
    ~TConsoleText() override;

  protected:
    int_type overflow(int_type ch) override;
    std::streamsize xsputn(const char* bytes, std::streamsize count) override;
    int sync() override;

  private:
    // Hands over every whole character held; a partial one at the end stays.
    bool Flush(bool all);

    std::function<bool(std::wstring_view)> write_;
    std::string held_;
};

// Puts standard output and error, where each is a console, through a TConsoleText.
void WriteConsolesAsText();

} // namespace kelvara::cli
