#include "platform/FileWatch.h"

#include "common/Errors.h"
#include "platform/EventSource.h"
#include "platform/linux/FileDescriptor.h"

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <thread>

namespace ostrel::platform {
namespace {

// What happens to a file in its folder when it is written, cut, rotated or created again.
constexpr std::uint32_t FolderEvents = IN_MODIFY | IN_CLOSE_WRITE | IN_CREATE | IN_MOVED_TO | IN_MOVED_FROM |
                                       IN_DELETE | IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF;
// How often a folder that does not exist (yet) is looked for again.
constexpr int RetryMilliseconds = 1000;

EOSError systemError(const std::string& what) {
    return EOSError(what + ": " + std::strerror(errno));
}

// One inotify instance on the file's folder, read by a thread of its own; an eventfd ends it.
class InotifyFileWatch final : public SourceWatch {
public:
    InotifyFileWatch(const std::filesystem::path& file, std::function<void()> onChange)
        : m_folder(file.parent_path().empty() ? "." : file.parent_path()), m_name(file.filename().string()),
          m_onChange(std::move(onChange)), m_inotify(::inotify_init1(IN_CLOEXEC | IN_NONBLOCK)),
          m_stop(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
        if (!m_inotify)
            throw systemError("inotify_init1");
        if (!m_stop)
            throw systemError("eventfd");
        addWatch();
        m_thread = std::thread([this] { run(); });
    }

    ~InotifyFileWatch() override {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(m_stop.get(), &one, sizeof one);
        m_thread.join();
    }

private:
    // False while the folder does not exist; the thread tries again.
    bool addWatch() {
        m_descriptor = ::inotify_add_watch(m_inotify.get(), m_folder.c_str(), FolderEvents | IN_ONLYDIR);
        m_watching = m_descriptor >= 0;
        return m_watching;
    }

    void run() {
        pollfd waits[2] = {{m_inotify.get(), POLLIN, 0}, {m_stop.get(), POLLIN, 0}};
        for (;;) {
            const int ready = ::poll(waits, 2, m_watching ? -1 : RetryMilliseconds);
            if (ready < 0 && errno != EINTR)
                return;
            if (waits[1].revents != 0)
                return;
            if (!m_watching) {
                // A folder made after the watch began: what it may hold already counts as new.
                if (addWatch())
                    m_onChange();
                continue;
            }
            if (waits[0].revents != 0 && readEvents())
                m_onChange();
        }
    }

    // Reads what is queued; true when any of it concerns the file. A burst of writes is one call.
    bool readEvents() {
        alignas(inotify_event) char buffer[16 * 1024];
        bool concerned = false;
        for (;;) {
            const ssize_t got = ::read(m_inotify.get(), buffer, sizeof buffer);
            if (got <= 0)
                return concerned;
            for (ssize_t offset = 0; offset < got;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + offset);
                if (event->mask & (IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF)) {
                    m_watching = false; // the folder went: look for it again
                    concerned = true;
                } else if (event->len > 0 && m_name == event->name)
                    concerned = true;
                offset += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
            if (!m_watching) {
                ::inotify_rm_watch(m_inotify.get(), m_descriptor); // a folder moved away still has its watch
                return concerned;
            }
        }
    }

    std::filesystem::path m_folder;
    std::string m_name;
    std::function<void()> m_onChange;
    FileDescriptor m_inotify;
    FileDescriptor m_stop;
    bool m_watching = false;
    int m_descriptor = -1;
    std::thread m_thread;
};

} // namespace

std::unique_ptr<SourceWatch> watchFile(const std::filesystem::path& file, std::function<void()> onChange) {
    return std::make_unique<InotifyFileWatch>(file, std::move(onChange));
}

} // namespace ostrel::platform
