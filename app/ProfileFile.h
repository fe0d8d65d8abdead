// The settings file as the desktop program uses it: the shared format of settings_text.h, read
// from disk once and written back as a whole.
#pragma once

#include <QByteArrayView>
#include <QString>

#include "settings_text.h"

class ProfileFile {
public:
    // Reads the whole file. A missing file reads as an empty one; one that is there but cannot
    // be read reads as empty too and is never saved over (see readable()).
    explicit ProfileFile(QString path);

    // False when the file exists but could not be read.
    bool readable() const { return readable_; }

    // The value, cut to its first kMaxTextLength characters; fallback when the key is missing
    // or its value is empty.
    QString readString(QByteArrayView section, QByteArrayView key, const QString& fallback) const;
    // The decimal number at the start of the value (0 when it starts with none, an empty value
    // included); fallback only when the key is missing.
    int readInt(QByteArrayView section, QByteArrayView key, int fallback) const;

    // Replaces the key's value where it stands, or appends the key to its section, or the
    // section to the file. Nothing is written to disk until save().
    void writeString(QByteArrayView section, QByteArrayView key, const QString& value);

    // Replaces the file as a whole, through a temporary file in the same folder, so that the old
    // file stays intact when anything fails; where the folder refuses the temporary file but the
    // file itself may be written, the file is rewritten in place instead. Creates the folder.
    // False, with nothing written, when the file could not be read.
    bool save() const;

    static constexpr int kMaxTextLength = 255;

private:
    std::optional<std::string> value(QByteArrayView section, QByteArrayView key) const;

    QString path_;
    bool readable_ = true;
    settings_text::Document document_;
};
