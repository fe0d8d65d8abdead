#include "ProfileFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <utility>

namespace {

std::string_view View(QByteArrayView text) { return {text.data(), size_t(text.size())}; }

}  // namespace

ProfileFile::ProfileFile(QString path) : path_(std::move(path)) {
    QFile file(path_);
    if (!file.exists()) return;
    QByteArray bytes;
    if (file.open(QIODevice::ReadOnly)) bytes = file.read(qint64(settings_text::kMaxFileSize) + 1);
    readable_ = file.isOpen() && file.error() == QFileDevice::NoError &&
                size_t(bytes.size()) <= settings_text::kMaxFileSize;
    if (readable_) document_ = settings_text::Document(View(bytes));
}

std::optional<std::string> ProfileFile::value(QByteArrayView section, QByteArrayView key) const {
    return document_.value(View(section), View(key));
}

QString ProfileFile::readString(QByteArrayView section, QByteArrayView key,
                                const QString& fallback) const {
    const std::optional<std::string> found = value(section, key);
    if (!found || found->empty()) return fallback;
    QString text = QString::fromLocal8Bit(*found);
    if (text.size() > kMaxTextLength) {
        // Never keep half of a character that needs two UTF-16 units.
        text.truncate(text[kMaxTextLength - 1].isHighSurrogate() ? kMaxTextLength - 1
                                                                 : kMaxTextLength);
    }
    return text;
}

int ProfileFile::readInt(QByteArrayView section, QByteArrayView key, int fallback) const {
    const std::optional<std::string> found = value(section, key);
    return found ? settings_text::LeadingNumber(*found) : fallback;
}

void ProfileFile::writeString(QByteArrayView section, QByteArrayView key, const QString& value) {
    const QByteArray text = value.toLocal8Bit();
    document_.set(View(section), View(key), View(text));
}

bool ProfileFile::save() const {
    if (!readable_) return false;
    QDir().mkpath(QFileInfo(path_).absolutePath());
    QSaveFile file(path_);
    file.setDirectWriteFallback(true);
    if (!file.open(QIODevice::WriteOnly)) return false;
    const std::string bytes = document_.bytes();
    file.write(bytes.data(), qint64(bytes.size()));
    return file.commit();
}
