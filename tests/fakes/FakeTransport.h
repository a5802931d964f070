// tests/fakes/FakeTransport.h: a message server in memory behind the client's transport: every
// frame sent is recorded and answered at once by a handler; the next receive gives the answer.
// Nothing waits, so a test steps the client turn by turn.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "link/Transport.h"
#include "tests/fakes/FakeMessageServer.h"

namespace fakes {

class FakeTransport final : public msglink::Transport
{
public:
    using Handler = std::function<ServerAnswer(const ServerFrame&)>;

    struct Attempt
    {
        std::string address;
        std::uint16_t port = 0;
    };

    explicit FakeTransport(Handler handler = usualAnswer) : m_handler(std::move(handler)) {}

    void setHandler(Handler handler) { m_handler = std::move(handler); }
    // Connect attempts fail with this reason while it is not empty.
    void refuse(std::string reason) { m_refusal = std::move(reason); }
    // Sending a frame with this code fails (after it is recorded); 0: none fails.
    void failSendsOf(std::uint32_t code) { m_failingCode = code; }

    bool openLink(const std::string& address, std::uint16_t port) override;
    bool sendFrame(const msglink::Bytes& payload) override;
    msglink::ReceiveStatus receiveFrame(msglink::Bytes& payload) override;
    void dropLink() override { m_open = false; }
    bool isOpen() const override { return m_open; }
    const std::string& failure() const override { return m_failure; }

    const std::vector<Attempt>& attempts() const { return m_attempts; }
    // Connections made so far; frames carry the number of theirs (1 for the first).
    int connections() const { return m_connections; }
    const std::vector<ServerFrame>& frames() const { return m_frames; }
    std::vector<ServerFrame> framesWithCode(std::uint32_t code) const;
    std::vector<ServerFrame> framesOn(int connection) const;
    // The bodies of the data messages, in the order they were sent.
    std::vector<std::string> dataTexts() const;
    // How often a data message with this text was sent.
    std::size_t sent(const std::string& text) const;

private:
    Handler m_handler;
    std::string m_refusal;
    std::uint32_t m_failingCode = 0;
    std::string m_failure;
    bool m_open = false;
    int m_connections = 0;
    std::vector<Attempt> m_attempts;
    std::vector<ServerFrame> m_frames;
    ServerAnswer m_pending;
    bool m_answerPending = false;
};

} // namespace fakes
