#include "ProfileFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <limits>
#include <optional>
#include <utility>

namespace {

bool SameName(QByteArrayView a, QByteArrayView b) {
    return qstrnicmp(a.data(), a.size(), b.data(), b.size()) == 0;
}

// The name of a "[name]" line, or nothing for any other line. A line with no closing bracket
// is not a section header.
std::optional<QByteArray> SectionName(const QByteArray& line) {
    const QByteArray text = line.trimmed();
    if (!text.startsWith('[')) return std::nullopt;
    const qsizetype close = text.lastIndexOf(']');
    if (close < 1) return std::nullopt;
    return text.mid(1, close - 1).trimmed();
}

// Leading sign and digits; the number saturates instead of overflowing.
int LeadingNumber(const QByteArray& text) {
    qsizetype i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    constexpr qint64 kLimit = qint64(std::numeric_limits<int>::max()) + 1;
    qint64 number = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        number = std::min(number * 10 + (text[i] - '0'), kLimit);
    }
    if (negative) return int(-number);
    return int(std::min<qint64>(number, std::numeric_limits<int>::max()));
}

}  // namespace

ProfileFile::ProfileFile(QString path) : path_(std::move(path)) {
    QFile file(path_);
    if (!file.open(QIODevice::ReadOnly)) return;
    lines_ = file.readAll().split('\n');
    if (!lines_.isEmpty() && lines_.constLast().isEmpty()) lines_.removeLast();
    for (QByteArray& line : lines_) {
        if (line.endsWith('\r')) line.chop(1);
    }
}

ProfileFile::Entry ProfileFile::find(QByteArrayView section, QByteArrayView key) const {
    bool inSection = false;
    for (qsizetype i = 0; i < lines_.size(); ++i) {
        const QByteArray& line = lines_[i];
        if (const auto name = SectionName(line)) {
            inSection = SameName(*name, section);
            continue;
        }
        const qsizetype equals = line.indexOf('=');
        if (!inSection || equals < 0) continue;
        if (SameName(line.left(equals).trimmed(), key)) return {i, line.mid(equals + 1).trimmed()};
    }
    return {};
}

// Just after the last non-blank line of the first section of that name, so that a blank line
// separating it from the next section stays where it is; -1 when there is no such section.
qsizetype ProfileFile::sectionEnd(QByteArrayView section) const {
    qsizetype end = -1;
    for (qsizetype i = 0; i < lines_.size(); ++i) {
        const auto name = SectionName(lines_[i]);
        if (end >= 0 && name) break;
        const bool header = name && SameName(*name, section);
        if (header || (end >= 0 && !lines_[i].trimmed().isEmpty())) end = i + 1;
    }
    return end;
}

QString ProfileFile::readString(QByteArrayView section, QByteArrayView key,
                                const QString& fallback) const {
    const Entry entry = find(section, key);
    QString text = QString::fromLocal8Bit(entry.value);
    if (entry.line < 0 || text.isEmpty()) return fallback;
    if (text.size() > kMaxTextLength) {
        // Never keep half of a character that needs two UTF-16 units.
        text.truncate(text[kMaxTextLength - 1].isHighSurrogate() ? kMaxTextLength - 1
                                                                 : kMaxTextLength);
    }
    return text;
}

int ProfileFile::readInt(QByteArrayView section, QByteArrayView key, int fallback) const {
    const Entry entry = find(section, key);
    if (entry.line < 0 || entry.value.isEmpty()) return fallback;
    return LeadingNumber(entry.value);
}

void ProfileFile::writeString(QByteArrayView section, QByteArrayView key, const QString& value) {
    // A line break inside a value would split it into lines of its own.
    QByteArray text = value.toLocal8Bit();
    text.replace('\r', ' ').replace('\n', ' ');

    const Entry entry = find(section, key);
    if (entry.line >= 0) {
        if (entry.value == text) return;
        QByteArray& line = lines_[entry.line];
        line = line.left(line.indexOf('=')).trimmed() + '=' + text;
        return;
    }
    const QByteArray keyLine = key.toByteArray() + '=' + text;
    const qsizetype end = sectionEnd(section);
    if (end >= 0) {
        lines_.insert(end, keyLine);
        return;
    }
    lines_.append('[' + section.toByteArray() + ']');
    lines_.append(keyLine);
}

bool ProfileFile::save() const {
    QDir().mkpath(QFileInfo(path_).absolutePath());
    QSaveFile file(path_);
    if (!file.open(QIODevice::WriteOnly)) return false;
    for (const QByteArray& line : lines_) {
        file.write(line);
        file.write("\r\n", 2);
    }
    return file.commit();
}
