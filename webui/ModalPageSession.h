#pragma once
// The one-question pages a modal call waits for: the message box and the
// folder and file pickers. The calling thread runs a nested modal loop until the
// page answers (a button, a chosen folder) or goes away.
//
// Thread: requests on the server's threads; Answered/Answer on the UI
// thread that waits.
#include "webui/PageSession.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace webui {

class ModalPageSession : public PageSession {
public:
    explicit ModalPageSession(std::string id, std::shared_ptr<ui::MessageLoop> loop);

    [[nodiscard]] bool Answered() const { return m_answered.load(); }
    // The button (or 1 with a path for the picker); set once.
    [[nodiscard]] int AnswerId() const;
    [[nodiscard]] std::string AnswerText() const;
    // Answers on the page's behalf (it went away).
    void SetAnswer(int id, std::string text = {});

    std::optional<Served> Get(std::string_view name) override;

protected:
    [[nodiscard]] virtual std::string PageText() const = 0;

    std::shared_ptr<ui::MessageLoop> m_loop;

private:
    std::atomic<bool> m_answered { false };
    mutable std::mutex m_mutex;
    int m_answerId = 0;
    std::string m_answerText;
};

class MessageBoxSession final : public ModalPageSession {
public:
    MessageBoxSession(std::string id, std::shared_ptr<ui::MessageLoop> loop, std::string text, std::string caption,
                      std::uint32_t type);
    // The answer a box gives when its window goes: Cancel, or No, or OK.
    [[nodiscard]] int DismissAnswer() const;

protected:
    std::string PageText() const override;
    nlohmann::json Handle(std::string_view verb, const nlohmann::json& body, int& status) override;

private:
    std::string m_text;
    std::string m_caption;
    std::uint32_t m_type;
};

// The folder picker and the save-style file picker: one page that lists a
// folder's sub-folders (and, for files, the files the filter matches),
// lets the user go up and into folders and, for files, type a name that
// need not exist yet.
class PickerSession final : public ModalPageSession {
public:
    // Entries a listing shows at most, and directory entries it looks at
    // (matching or not) before it stops: a folder of millions of files
    // must not hold a server thread or the page.
    static constexpr std::size_t kMaxEntries = 5000;
    static constexpr std::size_t kMaxScanned = 100000;

    enum class Kind {
        Folder,   // answers an existing folder
        SaveFile, // answers a file in an existing folder; the file need not exist
    };
    struct Request {
        Kind kind = Kind::Folder;
        std::string title;
        std::string start;  // the folder shown first
        std::string filter; // files: "Name|*.a;*.b" (only its patterns count)
        std::string name;   // files: the name proposed
    };

    PickerSession(std::string id, std::shared_ptr<ui::MessageLoop> loop, Request request);

protected:
    std::string PageText() const override;
    nlohmann::json Handle(std::string_view verb, const nlohmann::json& body, int& status) override;

private:
    [[nodiscard]] nlohmann::json List(const std::string& path) const;
    [[nodiscard]] bool Matches(const std::string& name) const;
    [[nodiscard]] nlohmann::json Choose(const nlohmann::json& body);

    Request m_request;
    std::vector<std::string> m_patterns;
};

} // namespace webui
