// Test support for the OSC server: an independent OSC peer (a python3
// process that builds and parses OSC packets by hand and talks UDP on
// 127.0.0.1), and a capture of the standard output, where the server prints
// its error lines.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace corvane::test {

struct OscMessage {
    std::string address;
    std::string tags;
    std::vector<std::string> args; // as printed by the peer: numbers, texts, "T", "F", "N"

    int Int(size_t i) const;
    double Number(size_t i) const;
    const std::string& Text(size_t i) const;
};

class OscPeer {
public:
    // Waiting for an expected packet gives up after this long (a failure,
    // never a measured time).
    static constexpr int kReplyTimeoutMs = 5000;

    OscPeer();
    ~OscPeer();
    OscPeer(const OscPeer&) = delete;
    OscPeer& operator=(const OscPeer&) = delete;

    // A new receiving socket on 127.0.0.1; returns its number.
    int Open();
    int Port(int socketNumber) const { return ports.at(static_cast<size_t>(socketNumber)); }
    // "osc.udp://127.0.0.1:<port of socket>".
    std::string URL(int socketNumber) const;

    // One message (tags "isfdhTFN"; args one text per tag that carries data).
    void Send(int port, const std::string& address, const std::string& tags = "",
              const std::vector<std::string>& args = {});
    void SendBundle(int port, const std::string& address, const std::string& tags = "",
                    const std::vector<std::string>& args = {});
    void SendFrom(int socketNumber, int port, const std::string& address, const std::string& tags = "",
                  const std::vector<std::string>& args = {});
    void SendRaw(int port, const std::string& hexBytes);

    // Up to `count` messages (bundles flattened) arriving at the socket
    // within the time-out.
    std::vector<OscMessage> Receive(int socketNumber, int count, int timeoutMs = kReplyTimeoutMs);
    // Discards what the socket holds now; returns how many datagrams.
    int Drain(int socketNumber);

    // Sends "/ping" to the server at `port` until it answers on socket
    // `socketNumber` (the server may still be binding); false when it never
    // does within the reply time-out. Drains the socket first.
    bool WaitForServer(int port, int socketNumber, int timeoutMs = kReplyTimeoutMs);
    // "/ping" once and wait for its answer: everything sent to the server
    // before has been handled when this returns true.
    bool Sync(int port, int socketNumber, int timeoutMs = kReplyTimeoutMs);
    // Whether a socket of our own can bind the port now (the server is not
    // on it).
    bool CanBind(int port);
    // Retries CanBind until it holds or the time-out passes.
    bool WaitUntilFree(int port, int timeoutMs = kReplyTimeoutMs);

private:
    std::vector<std::string> Command(const std::string& line);

    pid_t pid = -1;
    int toPeer = -1;
    int fromPeer = -1;
    std::string pending;
    std::vector<int> ports;
};

// Redirects file descriptor 1 into a temporary file while alive; the text is
// written to the real standard output again at the end, so a failing test
// still shows it.
class StdoutCapture {
public:
    StdoutCapture();
    ~StdoutCapture();
    StdoutCapture(const StdoutCapture&) = delete;
    StdoutCapture& operator=(const StdoutCapture&) = delete;
    // Everything captured so far.
    std::string Text() const;
    bool Contains(const std::string& text) const { return Text().find(text) != std::string::npos; }
    size_t Count(const std::string& text) const;

private:
    int savedFd = -1;
    std::string path;
};

} // namespace corvane::test
