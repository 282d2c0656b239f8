// Failures as values with a readable chain.
//
// An Error is a list of links, innermost first: what failed at the lowest
// level (a system call, a transfer, a file read) and, wrapped around it by
// each caller, what that meant for the operation ("cannot enter tuner mode").
// Each link names its subject (a file, a device) and carries an English text
// plus an optional language key, so the chain can be shown in the interface
// language: section "Errors" of the language file, with %1 standing for the
// subject. The code says what kind of failure it is, for exit codes and for
// advice.
//
//   Error e = Error::make(ErrorCode::NoAnswer, "no answer from the radio", "/dev/sg2")
//                 .wrap("cannot enter tuner mode");
//   e.text()  ->  "cannot enter tuner mode: /dev/sg2: no answer from the radio"
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace varnel {

enum class ErrorCode {
    None = 0,
    NoRadio,           // no radio among the volumes
    PermissionDenied,  // the system refused access
    Busy,              // another program holds the device or file
    NoAnswer,          // the radio did not answer within its budget
    Refused,           // the transfer failed (OS error, SCSI status, sense)
    WrongDevice,       // the device is not the radio (identity check)
    Mismatch,          // radio and image belong to different models
    WrongSize,         // a file of the wrong length
    NotAFile,          // a directory, FIFO or device where a file is expected
    FileError,         // any other file failure
    BadData,           // malformed content (procedure, archive block, reply)
    Cancelled,         // the operator stopped it
    Instrument,        // a measuring instrument failed
    Database,          // the records store failed
    NotFound,          // the records store holds no record with that ID
    Other,
};

struct ErrorLink {
    std::string key;      // language key in section "Errors", or empty
    std::string english;  // the text when the key is missing; may hold %1
    std::string subject;  // file, device or item concerned, or empty
};

class Error {
public:
    Error() = default;

    // A new failure. `english` may contain %1, replaced by `subject`; when it
    // does not, a non-empty subject is put before the text ("E:: busy").
    static Error make(ErrorCode code, std::string english, std::string subject = {},
                      std::string key = {}) {
        Error e;
        e.code_ = code;
        e.links_.push_back({std::move(key), std::move(english), std::move(subject)});
        return e;
    }

    // Adds the caller's context around the failure. A no-op on success.
    Error& wrap(std::string english, std::string subject = {}, std::string key = {}) {
        if (ok()) return *this;
        links_.push_back({std::move(key), std::move(english), std::move(subject)});
        return *this;
    }
    Error wrapped(std::string english, std::string subject = {}, std::string key = {}) const {
        Error copy = *this;
        copy.wrap(std::move(english), std::move(subject), std::move(key));
        return copy;
    }

    bool ok() const { return code_ == ErrorCode::None; }
    ErrorCode code() const { return code_; }
    const std::vector<ErrorLink>& links() const { return links_; }

    // The chain, outermost first, joined by ": ". `translate(key)` returns
    // the interface-language text of a key, or empty to keep the English.
    std::string text(const std::function<std::string(std::string_view key)>& translate = {}) const {
        std::string out;
        for (auto it = links_.rbegin(); it != links_.rend(); ++it) {
            std::string text = it->english;
            if (translate && !it->key.empty()) {
                std::string local = translate(it->key);
                if (!local.empty()) text = std::move(local);
            }
            const auto mark = text.find("%1");
            if (mark != std::string::npos) {
                text.replace(mark, 2, it->subject);
            } else if (!it->subject.empty()) {
                text = it->subject + ": " + text;
            }
            if (!out.empty()) out += ": ";
            out += text;
        }
        return out;
    }

private:
    ErrorCode code_ = ErrorCode::None;
    std::vector<ErrorLink> links_;
};

// A value or the error that prevented it.
template <typename T>
class Result {
public:
    Result(T value) : value_(std::move(value)) {}  // NOLINT: implicit by design
    Result(Error error) : error_(std::move(error)) {}  // NOLINT
    bool ok() const { return value_.has_value(); }
    explicit operator bool() const { return ok(); }
    T& value() { return *value_; }
    const T& value() const { return *value_; }
    T* operator->() { return &*value_; }
    const T* operator->() const { return &*value_; }
    T& operator*() { return *value_; }
    const T& operator*() const { return *value_; }
    const Error& error() const { return error_; }
    Error& error() { return error_; }

private:
    std::optional<T> value_;
    Error error_;
};

}  // namespace varnel
