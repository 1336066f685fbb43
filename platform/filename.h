#pragma once

#include <QByteArray>
#include <QString>

namespace tarnwick {

// Linux file names are bytes, not text. These carry every name through QString and back
// unchanged: bytes that are not UTF-8 become the code units U+DC80..U+DCFF on the way in and the
// same bytes on the way out (QFile::encodeName/decodeName would turn them into U+FFFD and lose
// them). Use them wherever a name leaves or enters the program: arguments, system calls, output.
QString fileNameFromBytes(const QByteArray& bytes);
QByteArray fileNameToBytes(const QString& name);

// `name` made absolute against the working folder, keeping every byte (QFileInfo would not).
QString absoluteFileName(const QString& name);

// The program's arguments (without the program name) decoded as above.
QStringList argumentsFromBytes(int argc, char** argv);

} // namespace tarnwick
