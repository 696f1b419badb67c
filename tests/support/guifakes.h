#pragma once

#include <QMdiArea>
#include <QStringList>
#include <QTemporaryDir>
#include <deque>
#include <memory>

#include "core/busport.h"
#include "core/busprotocol.h"
#include "core/timetext.h"
#include "gui/form1.h"
#include "gui/form2.h"
#include "gui/form3.h"
#include "gui/userdialogs.h"
#include "support/fakes.h"

namespace lwtest {

// A serial port that opens when told to and hands out queued input.
class FakeSerial final : public lw::SerialPortOps {
public:
    struct Shared {
        bool open = false;
        bool failOpen = false;
        std::string openError = "Permission error while locking the device";
        int number = 0;
        std::string settings;
        std::deque<std::string> pending;
        std::function<void(const std::string&)> lost;
    };
    explicit FakeSerial(std::shared_ptr<Shared> s) : m(std::move(s)) {}

    lw::Result<> setCommPort(int n) override {
        if (n < 1) return lw::Result<>::failure("Invalid Port Number");
        m->number = n;
        return {};
    }
    lw::Result<> setSettings(const std::string& t) override {
        if (!lw::parseLineSettings(t)) return lw::Result<>::failure("Invalid port settings");
        m->settings = t;
        return {};
    }
    lw::Result<> setPortOpen(bool open) override {
        if (open && m->failOpen) return lw::Result<>::failure(m->openError);
        m->open = open;
        return {};
    }
    bool portOpen() const override { return m->open; }
    std::string input() override {
        if (!m->open || m->pending.empty()) return {};
        std::string s = std::move(m->pending.front());
        m->pending.pop_front();
        return s;
    }
    void setLostHandler(std::function<void(const std::string&)> h) override {
        m->lost = std::move(h);
    }

private:
    std::shared_ptr<Shared> m;
};

class RecordingDialogs final : public lw::gui::UserDialogs {
public:
    struct Shown {
        QString text;
        QString title;
    };
    std::vector<Shown> messages;
    std::vector<Shown> notices;
    QStringList answers;  // given to askText in turn
    QStringList prompts;

    void message(const QString& text, const QString& title) override {
        messages.push_back({text, title});
        if (duringMessage) duringMessage();
    }
    std::function<void()> duringMessage;  // while the modal box would wait
    void notice(const QString& text, const QString& title) override {
        notices.push_back({text, title});
    }
    void updateNotice(const QString& text, const QString& title) override {
        updates.push_back({text, title});
    }
    std::vector<Shown> updates;
    QString askText(const QString& prompt, const QString& title, const QString& def) override {
        prompts << prompt + QLatin1Char('|') + title + QLatin1Char('|') + def;
        return answers.isEmpty() ? QString() : answers.takeFirst();
    }
    QString askSaveFile(const QString& initial, const QString& filter) override {
        prompts << QStringLiteral("save|") + initial + QLatin1Char('|') + filter;
        return answers.isEmpty() ? QString() : answers.takeFirst();
    }
    void information(const QString& text, const QString& title) override {
        infos.push_back({text, title});
        if (duringInformation) duringInformation();
    }
    std::vector<Shown> infos;
    std::function<void()> duringInformation;
};

// The board's services on fakes (a manual clock, a beeper that counts, a
// log in memory), the port and the dialogs from the caller. Keeps where
// the fakes are, for the test to read.
struct FakeBoardServices {
    lw::gui::BoardServices make(std::unique_ptr<lw::SerialPortOps> port, const QString& namesPath,
                                lw::gui::UserDialogs* dialogs) {
        lw::gui::BoardServices s;
        s.port = std::move(port);
        auto t = std::make_unique<lw::ManualTime>(lw::CivilTime{2002, 3, 1, 22, 15, 7, 0});
        time = t.get();
        s.time = std::move(t);
        auto b = std::make_unique<CountingBeeper>();
        beeper = b.get();
        s.beeper = std::move(b);
        auto k = std::make_unique<MemorySink>();
        sink = k.get();
        s.sink = std::move(k);
        s.dialogs = dialogs;
        s.namesPath = namesPath;
        return s;
    }

    lw::ManualTime* time = nullptr;
    CountingBeeper* beeper = nullptr;
    MemorySink* sink = nullptr;
};

// Makes the board's port (and may name its device); none: a FakeSerial.
using PortFactory = std::function<void(lw::gui::BoardServices&)>;

// The three monitor windows in a work area, on fakes.
struct Board {
    // `real` puts up real boxes in place of the recording ones.
    explicit Board(const PortFactory& makePort = {}, lw::gui::UserDialogs* real = nullptr) {
        area.resize(1400, 1000);
        names = dir.filePath(QStringLiteral("remlabel.dat"));
        options = new lw::gui::Form3;
        area.addSubWindow(options);
        options->setLogpath(dir.filePath(QStringLiteral("kx40buss.txt")));
        raw = new lw::gui::Form2;
        area.addSubWindow(raw);
        lw::gui::BoardServices s = fakes.make(nullptr, names, real ? real : &dialogs);
        if (makePort) {
            makePort(s);
        } else {
            s.port = std::make_unique<FakeSerial>(port);
        }
        time = fakes.time;
        beeper = fakes.beeper;
        sink = fakes.sink;
        form = new lw::gui::Form1(*raw, *options, std::move(s));
        area.addSubWindow(form);
        area.show();
    }
    // The board's load, as its first use runs it.
    void boot() {
        form->load();
        form->show();
    }
    void start(int n = 2, const QString& baud = QStringLiteral("4800")) {
        form->theport = static_cast<qint16>(n);
        form->baud = baud;
        form->startremote();
    }
    void tick(const std::string& input) {
        port->pending.push_back(input);
        form->decoderTick();
    }

    QTemporaryDir dir;
    QString names;
    QMdiArea area;
    std::shared_ptr<FakeSerial::Shared> port = std::make_shared<FakeSerial::Shared>();
    FakeBoardServices fakes;
    lw::ManualTime* time = nullptr;
    CountingBeeper* beeper = nullptr;
    MemorySink* sink = nullptr;
    RecordingDialogs dialogs;
    lw::gui::Form3* options = nullptr;
    lw::gui::Form2* raw = nullptr;
    lw::gui::Form1* form = nullptr;
};

}  // namespace lwtest
