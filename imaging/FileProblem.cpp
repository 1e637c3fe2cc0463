#include "imaging/FileProblem.h"

#include <QFile>

#include <filesystem>
#include <system_error>

namespace {

QString fromSystem(const std::error_code &error)
{
    if (error == std::errc::no_such_file_or_directory || error == std::errc::not_a_directory)
        return QStringLiteral("the file does not exist");
    if (error == std::errc::permission_denied || error == std::errc::operation_not_permitted)
        return QStringLiteral("permission denied");
    if (error == std::errc::filename_too_long)
        return QStringLiteral("the path is too long");
    if (error == std::errc::too_many_symbolic_link_levels)
        return QStringLiteral("too many levels of symbolic links");
    QString text = QString::fromLocal8Bit(error.message());
    if (!text.isEmpty())
        text[0] = text.at(0).toLower();
    return text;
}

} // namespace

namespace FileProblem {

QString describe(const QString &path)
{
    if (path.isEmpty())
        return QStringLiteral("the file does not exist");
    namespace fs = std::filesystem;
    fs::path native;
    try {
        native = fs::path(path.toStdU16String());
    } catch (const std::exception &) {
        return QStringLiteral("the name is not valid in the system's encoding");
    }
    std::error_code error;
    const fs::file_status status = fs::status(native, error);
    if (error) {
        // A name that came in bytes the system's encoding cannot hold was replaced on the way in,
        // so the file it named cannot be found by this name.
        if (fs::status_known(status) && !fs::exists(status) && path.contains(QChar::ReplacementCharacter))
            return QStringLiteral("the name is not valid in the system's encoding");
        return fromSystem(error);
    }
    if (fs::is_directory(status))
        return QStringLiteral("it is a folder");
    if (!fs::is_regular_file(status))
        return QStringLiteral("not a regular file");
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        const QString reason = file.errorString();
        return reason.isEmpty() ? QStringLiteral("permission denied") : reason.at(0).toLower() + reason.mid(1);
    }
    return QString();
}

} // namespace FileProblem
