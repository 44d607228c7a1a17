#pragma once

#include "config/ConnectionSettings.h"

#include <QPointer>
#include <QScopedPointer>
#include <QWidget>

class QLabel;
class QLineEdit;
class QRadioButton;

namespace Ui {
class ConnectionPanel;
}

// The group of controls through which every task window names the server,
// the database, the login mode and the login. The windows find its controls
// by their names (txtServer, txtDB, optTrust, optSql, txtUser, txtPasswd…).
class ConnectionPanel : public QWidget
{
    Q_OBJECT

public:
    // The windows differ in the database label and in whether the login
    // labels follow the enabling rule.
    enum class Kind
    {
        Create,
        Convert,
        Update,
        Backup,
        Restore,
    };

    explicit ConnectionPanel(QWidget* parent = nullptr);
    ~ConnectionPanel() override;

    void setKind(Kind kind);
    Kind kind() const { return m_kind; }

    // Fills server, database and user, selects the login option and applies
    // the enabling rule. The password box takes values.password.
    void Fill(const ConnectionSettings& values);
    // Server, database and user without the spaces at their ends (tabs and
    // other blanks stay); the password exactly as typed;
    // integrated login when optTrust is selected.
    ConnectionSettings ReadPanelValues() const;
    // All five trimmed, the password too (the backup window reads so).
    ConnectionSettings ReadAllTrimmed() const;

    // With optTrust selected the login boxes are disabled (and, in the create
    // and conversion windows, their labels); they keep their text.
    void ApplyEnablingRule();
    // When the window is activated, the first time and each time from another
    // window of the program, the focus goes to the password box under SQL
    // Server login, otherwise to mainInput.
    void setMainInput(QWidget* mainInput);
    void ApplyFocusRule();

    QLineEdit* txtServer() const;
    QLineEdit* txtDB() const;
    QLineEdit* txtUser() const;
    QLineEdit* txtPasswd() const;
    QRadioButton* optTrust() const;
    QRadioButton* optSql() const;
    QLabel* lblDB() const;
    QLabel* lblUserName() const;
    QLabel* lblPasswd() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    QScopedPointer<Ui::ConnectionPanel> m_ui;
    Kind m_kind = Kind::Update;
    QPointer<QWidget> m_mainInput;
    QPointer<QWidget> m_watchedWindow;
    bool m_activated = false;
};
