#include "daoengine/workspace.h"

#include "daoengine/collection.h"
#include "daoengine/database.h"
#include "daoengine/dbfile.h"

namespace tarnwick::daoengine {

using namespace automation;

Workspace::Workspace(EngineVersion engine, QString name, QString user, int type)
    : m_engine(engine), m_name(std::move(name)), m_user(std::move(user)), m_type(type) {
    m_users = Collection::make();
    m_groups = Collection::make();
    m_databases = Collection::make();
    m_properties = Collection::make();
}

void Workspace::requireOpen() const {
    if (m_closed) throw EAutomationError(QStringLiteral("The workspace %1 is closed.").arg(m_name));
}

void Workspace::SetDefaultCursorDriver(int driver) {
    requireOpen();
    if (driver < -1 || driver > 4)
        throw EAutomationError(QStringLiteral("%1 is not a cursor driver.").arg(driver));
    m_cursorDriver = driver;
}

void Workspace::Close() {
    m_closed = true;
}

QVariant Workspace::openOdbc(const QString& name, const QString& connect) {
    // "ODBC;UID=..;PWD=..;DSN=.." names the source in DSN, or else in the database name.
    QString rest = connect.mid(connect.indexOf(QLatin1Char(';')) + 1);
    if (connectValue(rest, QStringLiteral("DSN")).isEmpty() &&
        connectValue(rest, QStringLiteral("DRIVER")).isEmpty())
        rest += QStringLiteral(";DSN=") + name;
    return ToVariant(Database::openOdbc(name, rest));
}

QVariant Workspace::OpenDatabase(QVariant name, QVariant options, QVariant readOnly,
                                 QVariant connect) {
    requireOpen();
    Q_UNUSED(readOnly); // our engine never writes through an open database
    const QString file = ArgText(name);
    const QString text = ArgText(connect);
    if (text.startsWith(QLatin1String("ODBC;"), Qt::CaseInsensitive) ||
        text.compare(QLatin1String("ODBC"), Qt::CaseInsensitive) == 0)
        return openOdbc(file, text);
    if (!text.isEmpty() && !text.startsWith(QLatin1Char(';')))
        throw EAutomationError(
            QStringLiteral("The installable format %1 is not available on this system.")
                .arg(text.section(QLatin1Char(';'), 0, 0)));
    if (m_type != useJet)
        throw EAutomationError(QStringLiteral("Access databases open only in a Jet workspace."));
    return ToVariant(Database::openJet(m_engine, file, ToBool(options),
                                       connectValue(text, QStringLiteral("PWD"))));
}

QVariant Workspace::OpenConnection(QVariant name, QVariant options, QVariant readOnly,
                                   QVariant connect) {
    requireOpen();
    Q_UNUSED(options);
    Q_UNUSED(readOnly);
    if (m_type != useOdbc)
        throw EAutomationError(QStringLiteral("OpenConnection needs an ODBC-direct workspace."));
    const QString text = ArgText(connect);
    return openOdbc(ArgText(name), text.isEmpty() ? QStringLiteral("ODBC;") : text);
}

QVariant Workspace::Users() {
    return ToVariant(m_users);
}
QVariant Workspace::Groups() {
    return ToVariant(m_groups);
}
QVariant Workspace::Databases() {
    return ToVariant(m_databases);
}
QVariant Workspace::Properties() {
    return ToVariant(m_properties);
}

} // namespace tarnwick::daoengine
