// A settings file of the classic initialisation kind: "[Section]" lines followed by "key=value"
// lines. Section and key names match without regard to case and blanks around values do not
// count. The lines are kept as the bytes they were read as, so a save rewrites only the lines
// whose values change: comments, unknown keys and bytes that are no text stay as they were.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

class ProfileFile {
  public:
    // Reads the whole file; a missing or unreadable file reads as an empty one.
    explicit ProfileFile(QString path);

    // The value, cut to its first kMaxTextLength characters; fallback when the key is missing
    // or its value is empty.
    QString readString(QByteArrayView section, QByteArrayView key, const QString& fallback) const;
    // The decimal number at the start of the value (0 when it starts with none); fallback when
    // the key is missing or its value is empty.
    int readInt(QByteArrayView section, QByteArrayView key, int fallback) const;

    // Replaces the key's value where it stands, or appends the key to its section, or the
    // section to the file. Nothing is written to disk until save().
    void writeString(QByteArrayView section, QByteArrayView key, const QString& value);

    // Replaces the file as a whole, through a temporary file in the same folder, with lines
    // ending in CR LF: the old file stays intact when anything fails. Creates the folder.
    bool save() const;

    static constexpr int kMaxTextLength = 255;

  private:
    struct Entry {
        qsizetype line = -1;  // index into lines_, -1 when absent
        QByteArray value;     // trimmed
    };
    Entry find(QByteArrayView section, QByteArrayView key) const;
    qsizetype sectionEnd(QByteArrayView section) const;

    QString path_;
    QList<QByteArray> lines_;
};
