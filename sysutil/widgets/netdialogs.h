#pragma once

#include "runtime/component.h"

// Common part of the network drive dialogs: the result of the last one shown.
class TNetDlg : public TComponent {
    Q_OBJECT
public:
    using TComponent::TComponent;
    // 0 on success, -1 when the user cancelled, an error code (tarnwick::netresult) otherwise;
    // 0 before any dialog.
    int LastResult() const { return m_lastResult; }

protected:
    int m_lastResult = 0;
};

// Asks for a share address (smb://server/share, sftp://, ftp://, dav://), user, domain and
// password and mounts the share for this user. Errors are shown in the dialog, which stays
// open for another try.
class TNetConnectDlg : public TNetDlg {
    Q_OBJECT
public:
    using TNetDlg::TNetDlg;
    // Shows the dialog and returns when it closes; the result is also kept in LastResult.
    int Execute();
};

// Lists the mounted network shares and unmounts the chosen one; for printers, lists the
// printer queues.
class TNetDisConnectDlg : public TNetDlg {
    Q_OBJECT
    Q_PROPERTY(TResourceType ResourceType READ ResourceType WRITE SetResourceType)
public:
    enum TResourceType { rtDisk, rtPrinter };
    Q_ENUM(TResourceType)

    using TNetDlg::TNetDlg;
    TResourceType ResourceType() const { return m_resourceType; }
    void SetResourceType(TResourceType t) { m_resourceType = t; }
    int Execute();

private:
    TResourceType m_resourceType = rtDisk;
};

// Lets window descriptions name the two dialogs.
void RegisterNetDialogs();
