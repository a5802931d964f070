// tests/app/WindowFixture.h: a started main window over a fake message-server client, and
// helpers to answer the modal dialogs it opens.
#pragma once

#include <QApplication>
#include <QTimer>

#include <atomic>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "app/StatusWindow.h"
#include "platform/Desktop.h"
#include "tests/fakes/TempDir.h"

namespace windowtest {

inline const std::string kLastWords = "Соединение разорвано.";

// What the fake client did; outlives it (the gateway frees the client when it stops).
struct ClientRecord
{
    std::atomic<bool> created{false};
    std::atomic<bool> stopRequested{false};
    std::atomic<bool> finished{false};
    std::atomic<bool> linkUp{false};
    msglink::LinkView* view = nullptr; // the main-thread view start-up gave the client
};

// Stands in for the message-server client. When told to stop, its thread reports one last
// event through the main-thread view, as the real client may, and then ends.
class FakeLinkClient final : public msglink::LinkControl
{
public:
    FakeLinkClient(msglink::LinkView& view, ClientRecord& record) : m_view(view), m_record(record)
    {
        m_record.created = true;
        m_record.view = &view;
    }
    ~FakeLinkClient() override
    {
        if (m_thread.joinable())
            m_thread.join();
    }

    void requestStop() override
    {
        m_record.stopRequested = true;
        m_thread = std::thread([this] {
            m_view.appendLinkEvent(kLastWords);
            m_record.finished = true;
        });
    }
    bool finished() const override { return m_record.finished; }
    bool connected() const override { return m_record.linkUp; }
    bool authorised() const override { return false; }
    std::uint64_t turns() const override { return 0; }

private:
    msglink::LinkView& m_view;
    ClientRecord& m_record;
    std::thread m_thread;
};

// Once a modal window with this objectName is active, runs action on it. Gives up after 5 s:
// the test fails and whatever modal window is open is closed so the test cannot hang.
inline void whenModalOpens(const QString& name, std::function<void(QWidget*)> action)
{
    auto* poll = new QTimer;
    auto tries = std::make_shared<int>(0);
    QObject::connect(poll, &QTimer::timeout, [poll, tries, name, action] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal && modal->objectName() == name) {
            poll->deleteLater();
            poll->stop();
            action(modal);
        } else if (++*tries > 1000) {
            poll->deleteLater();
            poll->stop();
            ADD_FAILURE() << "no modal window " << name.toStdString() << " opened";
            if (modal)
                modal->close();
        }
    });
    poll->start(5);
}

class WindowTest : public ::testing::Test
{
protected:
    void startForm(bool trayAvailable = true, const std::string& settings = "")
    {
        std::ofstream(m_dir.file("gpsbridge.ini")) << "[main]\nDefaultPort=0\n" << settings;
        app::GatewayOptions options;
        options.calibration = std::chrono::milliseconds(20);
        options.workingDirectory = m_dir.path();
        options.listener.acceptWaitMs = 20;
        options.listener.receiveWaitMs = 20;
        options.makeClient = [this](msglink::LinkView& view, msglink::Outbox&,
                                    const app::Settings&) {
            return std::make_unique<FakeLinkClient>(view, m_client);
        };
        m_form =
            std::make_unique<app::StatusWindow>(options, [trayAvailable] { return trayAvailable; });
        m_form->onEnded = [this] { ++m_endedCalls; };
        m_form->show();
    }

    template <typename T> T* find(const char* name)
    {
        T* widget = m_form->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(nullptr, widget) << name;
        return widget;
    }

    // Runs work on another thread with the view the client got, as the client's thread does,
    // serving the main thread until it is done.
    void reportFromClientThread(const std::function<void(msglink::LinkView&)>& work)
    {
        ASSERT_NE(nullptr, m_client.view);
        std::atomic<bool> done{false};
        std::thread client([&] {
            work(*m_client.view);
            done = true;
        });
        while (!done)
            platform::serveMainThreadFor(10);
        client.join();
    }

    // Serves the main thread until pred holds, at most 2 s.
    template <typename Pred> bool serveUntil(Pred pred)
    {
        for (int i = 0; i < 200 && !pred(); ++i)
            platform::serveMainThreadFor(10);
        return pred();
    }

    fakes::TempDir m_dir;
    ClientRecord m_client; // before the form, whose stop still reaches it
    std::unique_ptr<app::StatusWindow> m_form;
    int m_endedCalls = 0;
};

} // namespace windowtest
