// Yes/No questions to the user (the confirmation message boxes). The
// question is answered, in this order, by:
//   1. answers a test has scripted (ScopedScriptedAnswers), one per question;
//   2. zenity --question, when an X display is named and zenity is installed
//      (spawned with an argument vector, never a shell; the caller waits);
//   3. nobody: the question goes to standard error and the answer is No, so
//      that nothing is destroyed without a Yes.
//
// Threads: the host's UI thread (the caller blocks until the answer comes);
// never the audio thread.
#pragma once

#include <string>
#include <vector>

namespace corvane::platform {

enum class MessageBoxAnswer { kYes, kNo };

MessageBoxAnswer AskYesNo(const std::string& title, const std::string& text);

// While alive, the next questions get these answers in order (No once they
// are used up, without asking anyone); every question asked is kept.
class ScopedScriptedAnswers {
public:
    explicit ScopedScriptedAnswers(std::vector<MessageBoxAnswer> answers);
    ~ScopedScriptedAnswers();
    ScopedScriptedAnswers(const ScopedScriptedAnswers&) = delete;
    ScopedScriptedAnswers& operator=(const ScopedScriptedAnswers&) = delete;
    // "title: text" of each question asked so far.
    std::vector<std::string> Questions() const;
};

} // namespace corvane::platform
