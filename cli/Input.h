#pragma once

// Standard input read as it comes, without holding up the event loop, on each system's terms.

#include <QObject>

#include <functional>
#include <memory>
#include <string_view>

namespace kelvara::cli {

// Whether standard input (0) or standard error (2) is a terminal: a person typing or watching.
bool IsTerminal(int stream);

class TInputReader {
  public:
    // Each piece read is handed to onBytes on the event loop; an empty piece means the input has
    // ended (or failed), and nothing more comes.
    explicit TInputReader(std::function<void(std::string_view)> onBytes);
    ~TInputReader();
    TInputReader(const TInputReader&) = delete;
    TInputReader& operator=(const TInputReader&) = delete;

    // While not enabled, what is typed waits.
    void SetEnabled(bool enabled);

  private:
    struct TState;
    std::shared_ptr<TState> state_;
};

} // namespace kelvara::cli
