// Program-wide state and shared routines of the desktop program. Everything here runs on the
// user-interface thread.
#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>
#include <cstdint>

class QWidget;

namespace MainModule {

// The application's title: the caption of the main window, the wait window and every message
// box without a caption of its own.
inline const QString kAppTitle = QStringLiteral("Lumeris");

// Link settings.
inline int16_t ConnectionType = 0;  // 1 serial, 2 network, anything else: no link
inline QString SerialPortName;
inline QString TcpAddress;
inline QString TcpPortNo;

// Which toolbar buttons are shown.
inline bool ShowConfigurationButton = false;
inline bool ShowPowerButton = false;
inline bool ShowM1DButton = false;
inline bool ShowRGBButton = false;
inline bool ShowBNCButton = false;
inline bool ShowComponentButton = false;
inline bool ShowSVideoButton = false;
inline bool ShowVideoButton = false;
inline bool ShowBlankButton = false;
inline bool ShowMuteButton = false;
inline bool ShowAdvancedButton = false;
inline bool ShowHelpButton = false;

// Last known projector states; -1 after a failed query.
inline int16_t PowerState = 0;  // 0 off, 1 on, 2 cooling down
inline int16_t InputState = 0;  // 0 RGB, 1 Video, 2 S-Video, 3 M1-D, 4 BNC, 5 Component
inline int16_t BlankState = 0;
inline int16_t MuteState = 0;

inline bool PowerOnWaiting = false;  // a toolbar power-on waits for the next power query
inline bool StatusPollBusy = false;  // the main status poll is running

// One flag per advanced-window page: true while the program fills that page's controls.
inline bool SetupUpdating = false;
inline bool MainUpdating = false;
inline bool Picture1Updating = false;
inline bool Picture2Updating = false;
inline bool InputUpdating = false;
inline bool AutoUpdating = false;
inline bool ScreenUpdating = false;
inline bool OptionUpdating = false;

// The settings file; main() sets it (--settings, or DefaultSettingsFile()) before StartUp().
inline QString SettingsFile;

// Clears the coordination flags, reads the settings, hands the link to the library and shows
// the configuration dialog without waiting for it.
void StartUp();

// "Varnix.txt" beside the program when that file is there, else in the user's configuration
// folder ($XDG_CONFIG_HOME/varnex/Varnix.txt, ~/.config/varnex/Varnix.txt without it).
QString DefaultSettingsFile();

// Removes the notification-area icon and leaves the event loop, so the program ends; nothing
// is saved.
void EndProgram();

// Fill the shared state from SettingsFile / write it back. Neither shows anything; a save that
// cannot be written (or would go over a file that could not be read) returns false and keeps
// the values for this session only.
void LoadSettings();
bool SaveSettings();

// Hands the chosen link to the library: (1, port, "") or (2, address, port number); no call
// when no link is chosen. The library's answer is not looked at.
void ApplyConnection();

// The main window's toolbar and notification-area icon.
void BuildToolbar();    // adds the shown buttons and fits the main window to them
void RefreshToolbar();  // pressed looks and tooltips from the last known states
void AddTrayIcon();
void RemoveTrayIcon();

// Returns after more than ms milliseconds, handling pending window events meanwhile.
void Delay(int ms);

// Centres w on the main window, kept inside the screen; w's size is not changed.
void PositionForm(QWidget* w);

// Where a window of that size goes to be centred on reference and kept inside screen: the
// arithmetic of PositionForm, also used to put the main window where the start-up dialog was.
QPoint CentredOn(const QRect& reference, const QSize& size, const QRect& screen);

// Modal error box: error icon, OK, caption kAppTitle.
void ShowErrorBox(QWidget* parent, const QString& message);

// Modal question: question icon, OK and Cancel, caption "Confirmation". True for OK.
bool AskConfirmation(QWidget* parent, const QString& question);

}  // namespace MainModule
