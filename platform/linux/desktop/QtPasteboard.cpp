// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/desktop/QtPasteboard.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <utility>

namespace {

// Sets a flag for the length of a call into the clipboard.
class WritingScope {
public:
    explicit WritingScope(bool& flag) : flag_(flag), previous_(std::exchange(flag, true)) {}
    ~WritingScope() { flag_ = previous_; }
    WritingScope(const WritingScope&) = delete;
    WritingScope& operator=(const WritingScope&) = delete;

private:
    bool& flag_;
    bool previous_;
};

bool isPlainText(const QString& type) {
    return type == QLatin1String(Pasteboard::stringType);
}

}  // namespace

QtPasteboard::QtPasteboard() : clipboard_(QGuiApplication::clipboard()) {
    QObject::connect(clipboard_, &QClipboard::dataChanged, &context_,
                     [this] { clipboardChanged(); });
}

QtPasteboard::~QtPasteboard() = default;

long QtPasteboard::clearContents() {
    {
        const WritingScope scope(writing_);
        clipboard_->clear(QClipboard::Clipboard);
    }
    published_ = nullptr;
    text_.reset();
    data_.clear();
    emptiedByUs_ = true;
    entryCount_ = ++changeCount_;
    return changeCount_;
}

bool QtPasteboard::setString(const QString& value, const QString& type) {
    if (entryCount_ != changeCount_) {
        return false;
    }
    const auto put = [this](const QString& dataType, const QByteArray& data) {
        for (auto& entry : data_) {
            if (entry.first == dataType) {
                entry.second = data;
                return;
            }
        }
        data_.append({dataType, data});
    };
    if (isPlainText(type)) {
        text_ = value;
    } else {
        put(type, value.toUtf8());
        if (type == QLatin1String(concealedType)) {
            put(QString::fromLatin1(passwordManagerHintType), QByteArrayLiteral("secret"));
        }
    }
    QMimeData* entry = makeEntry();
    published_ = entry;
    {
        const WritingScope scope(writing_);
        clipboard_->setMimeData(entry, QClipboard::Clipboard);
    }
    emptiedByUs_ = false;
    return published_ && clipboard_->mimeData(QClipboard::Clipboard) == published_;
}

std::optional<QString> QtPasteboard::string(const QString& type) const {
    const QMimeData* current = clipboard_->mimeData(QClipboard::Clipboard);
    if (!current) {
        return std::nullopt;
    }
    if (isPlainText(type)) {
        return current->hasText() ? std::optional(current->text()) : std::nullopt;
    }
    if (!current->hasFormat(type)) {
        return std::nullopt;
    }
    return QString::fromUtf8(current->data(type));
}

void QtPasteboard::clipboardChanged() {
    if (writing_) {
        return;
    }
    const QMimeData* current = clipboard_->mimeData(QClipboard::Clipboard);
    // Our entry is still the clipboard's: a notice about our own write.
    if (published_ && current == published_) {
        return;
    }
    // Still empty since our clear: the X server's late report of that clear.
    if (emptiedByUs_ && (!current || current->formats().isEmpty())) {
        return;
    }
    emptiedByUs_ = false;
    ++changeCount_;
}

QMimeData* QtPasteboard::makeEntry() const {
    auto* entry = new QMimeData;
    if (text_) {
        entry->setText(*text_);
    }
    for (const auto& [type, data] : data_) {
        entry->setData(type, data);
    }
    return entry;
}
