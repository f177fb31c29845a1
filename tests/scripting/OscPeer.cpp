#include "tests/scripting/OscPeer.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <netinet/in.h>
#include <spawn.h>
#include <sstream>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "tests/support/TestSupport.h"

extern char** environ;

namespace corvane::test {

int OscMessage::Int(size_t i) const
{
    return i < args.size() ? atoi(args[i].c_str()) : 0;
}

double OscMessage::Number(size_t i) const
{
    return i < args.size() ? strtod(args[i].c_str(), nullptr) : 0.0;
}

const std::string& OscMessage::Text(size_t i) const
{
    static const std::string empty;
    return i < args.size() ? args[i] : empty;
}

OscPeer::OscPeer()
{
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    const std::string script = std::string(SourceDir()) + "/tests/scripting/osc_peer.py";
    char* argv[] = {const_cast<char*>("python3"), const_cast<char*>("-u"), const_cast<char*>(script.c_str()), nullptr};
    const int result = posix_spawnp(&pid, "python3", &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    toPeer = in[1];
    fromPeer = out[0];
    if (result != 0)
        throw std::runtime_error("cannot start python3");
    ports.push_back(0); // socket 0 sends; its port is not needed
}

OscPeer::~OscPeer()
{
    if (toPeer >= 0)
        close(toPeer); // the peer ends at the end of its input
    if (fromPeer >= 0)
        close(fromPeer);
    if (pid > 0) {
        int status;
        waitpid(pid, &status, 0);
    }
}

std::vector<std::string> OscPeer::Command(const std::string& line)
{
    const std::string text = line + "\n";
    size_t sent = 0;
    while (sent < text.size()) {
        const ssize_t n = write(toPeer, text.data() + sent, text.size() - sent);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            throw std::runtime_error("the OSC peer is gone");
        sent += static_cast<size_t>(n);
    }
    std::vector<std::string> lines;
    for (;;) {
        const size_t newline = pending.find('\n');
        if (newline != std::string::npos) {
            std::string answer = pending.substr(0, newline);
            pending.erase(0, newline + 1);
            const bool last = answer.rfind("end", 0) == 0 || answer.rfind("ok", 0) == 0 ||
                              answer.rfind("error", 0) == 0 || answer.rfind("socket", 0) == 0;
            lines.push_back(std::move(answer));
            if (last)
                return lines;
            continue;
        }
        char buffer[4096];
        const ssize_t n = read(fromPeer, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            throw std::runtime_error("the OSC peer is gone");
        pending.append(buffer, static_cast<size_t>(n));
    }
}

int OscPeer::Open()
{
    const std::vector<std::string> answer = Command("open");
    int number = -1, port = 0;
    if (sscanf(answer.back().c_str(), "socket %d %d", &number, &port) != 2)
        throw std::runtime_error("the OSC peer cannot open a socket: " + answer.back());
    if (static_cast<size_t>(number) >= ports.size())
        ports.resize(static_cast<size_t>(number) + 1);
    ports[static_cast<size_t>(number)] = port;
    return number;
}

std::string OscPeer::URL(int socketNumber) const
{
    return "osc.udp://127.0.0.1:" + std::to_string(Port(socketNumber));
}

namespace {

std::string Join(const std::vector<std::string>& fields)
{
    std::string line;
    for (size_t i = 0; i < fields.size(); ++i) {
        if (i)
            line += '\t';
        line += fields[i];
    }
    return line;
}

} // namespace

void OscPeer::Send(int port, const std::string& address, const std::string& tags, const std::vector<std::string>& args)
{
    std::vector<std::string> fields{"send", std::to_string(port), address, tags};
    fields.insert(fields.end(), args.begin(), args.end());
    Command(Join(fields));
}

void OscPeer::SendBundle(int port, const std::string& address, const std::string& tags,
                         const std::vector<std::string>& args)
{
    std::vector<std::string> fields{"sendbundle", std::to_string(port), address, tags};
    fields.insert(fields.end(), args.begin(), args.end());
    Command(Join(fields));
}

void OscPeer::SendFrom(int socketNumber, int port, const std::string& address, const std::string& tags,
                       const std::vector<std::string>& args)
{
    std::vector<std::string> fields{"sendfrom", std::to_string(socketNumber), std::to_string(port), address, tags};
    fields.insert(fields.end(), args.begin(), args.end());
    Command(Join(fields));
}

void OscPeer::SendRaw(int port, const std::string& hexBytes)
{
    Command("raw\t" + std::to_string(port) + "\t" + hexBytes);
}

std::vector<OscMessage> OscPeer::Receive(int socketNumber, int count, int timeoutMs)
{
    const std::vector<std::string> lines =
        Command("recv\t" + std::to_string(socketNumber) + "\t" + std::to_string(count) + "\t" + std::to_string(timeoutMs));
    std::vector<OscMessage> messages;
    for (const std::string& line : lines) {
        if (line.rfind("msg\t", 0) != 0)
            continue;
        std::vector<std::string> fields;
        std::stringstream stream(line);
        std::string field;
        while (std::getline(stream, field, '\t'))
            fields.push_back(field);
        OscMessage message;
        message.address = fields.size() > 1 ? fields[1] : "";
        message.tags = fields.size() > 2 ? fields[2] : "";
        if (fields.size() > 3)
            message.args.assign(fields.begin() + 3, fields.end());
        messages.push_back(std::move(message));
    }
    return messages;
}

int OscPeer::Drain(int socketNumber)
{
    const std::vector<std::string> answer = Command("drain\t" + std::to_string(socketNumber));
    return atoi(answer.back().c_str() + 4);
}

bool OscPeer::WaitForServer(int port, int socketNumber, int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    Drain(socketNumber);
    while (std::chrono::steady_clock::now() < deadline) {
        Send(port, "/ping", "ss", {URL(socketNumber), "/pong"});
        if (!Receive(socketNumber, 1, 100).empty()) {
            Drain(socketNumber);
            return true;
        }
    }
    return false;
}

bool OscPeer::Sync(int port, int socketNumber, int timeoutMs)
{
    Send(port, "/ping", "ss", {URL(socketNumber), "/sync"});
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
        for (const OscMessage& m : Receive(socketNumber, 1, timeoutMs))
            if (m.address == "/sync")
                return true;
    }
    return false;
}

bool OscPeer::CanBind(int port)
{
    return UdpPortFree(port);
}

bool OscPeer::WaitUntilFree(int port, int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!CanBind(port)) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

StdoutCapture::StdoutCapture()
{
    char name[] = "/tmp/corvane-stdout-XXXXXX";
    const int fd = mkstemp(name);
    if (fd < 0)
        throw std::runtime_error("mkstemp failed");
    path = name;
    fflush(stdout);
    savedFd = dup(1);
    dup2(fd, 1);
    close(fd);
}

StdoutCapture::~StdoutCapture()
{
    fflush(stdout);
    const std::string text = Text();
    dup2(savedFd, 1);
    close(savedFd);
    unlink(path.c_str());
    if (!text.empty())
        fwrite(text.data(), 1, text.size(), stdout);
    fflush(stdout);
}

std::string StdoutCapture::Text() const
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

size_t StdoutCapture::Count(const std::string& text) const
{
    const std::string all = Text();
    size_t count = 0;
    for (size_t at = all.find(text); at != std::string::npos; at = all.find(text, at + 1))
        ++count;
    return count;
}

} // namespace corvane::test
