#pragma once

#include <string>
#include <string_view>

namespace lw {

// A pseudo-terminal pair in raw mode: the bus side writes to the master, a
// serial port program opens the slave by its path. POSIX only.
class Pty {
public:
    Pty() = default;
    ~Pty();
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;
    Pty(Pty&& other) noexcept;
    Pty& operator=(Pty&& other) noexcept;

    // False with a reason when no pair can be made.
    bool create(std::string* error = nullptr);

    const std::string& slavePath() const { return m_path; }
    bool isOpen() const { return m_master >= 0; }

    // Writes what the master side can take now; returns how much it took.
    std::size_t write(std::string_view bytes);
    // Whatever the slave side wrote, without waiting.
    std::string readAvailable();
    // Drops what was written but not yet read on the slave side: a bus with
    // nobody listening keeps no backlog.
    void discardUnread();
    // The slave descriptor made with the pair is kept open by default so the
    // pair survives programs opening and closing it; tests may drop it.
    void closeSlave();
    // The bus side goes away: the slave sees a hang-up.
    void closeMaster();
    // The speed the slave side's program set, in baud: 0 while none is set
    // (the pair starts so, and a serial library sets it back on closing) or
    // when it is not a standard rate.
    int lineSpeed() const;
    // Whether lineSpeed() sees the slave's setting from the master side, as
    // on Linux.
    static bool seesLineSpeed();

private:
    int m_master = -1;
    int m_slave = -1;
    std::string m_path;
};

}  // namespace lw
