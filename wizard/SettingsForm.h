#pragma once

// cfgwiz's form, "Tavrin Gardivo Setup": the settings record on four tabs ("Main", "Working
// Mode", "Handling Procedures", "Device"), and the evidence settings of the registry on a fifth
// ("Storage and clips") and the connections on a sixth ("Connections"), with OK, Cancel, Default
// and Help. It validates, saves
// the record and its registry values, keeps the autostart entry, and keeps a running gardivo in
// step through its endpoint: device and standard changes are sent (the form waits), colour
// changes and "settings changed" are posted.

#include "LocalFileSystems.h"
#include "settings/SettingsStore.h"
#include "settings/WizardSettings.h"

#include <QCoreApplication>
#include <QDialog>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class QAbstractButton;
class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QGroupBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSlider;
class QSpinBox;
class QTabWidget;

namespace gardivo {

class DirectoryChooser;
class LocalEndpoint;

// What the form reaches outside itself; tests give it their own.
struct WizardEnvironment {
    RegistryStore* registry = nullptr;
    Reporter* reporter = nullptr;
    // cfgwiz's own directory (the program directory), with a trailing '/'.
    std::string programDirectory;
    std::string homeDirectory;
    // A fresh settings store (the record from the file, or the defaults).
    std::function<std::unique_ptr<SettingsStore>()> makeStore;
    // A running gardivo: whether it answers, and sending (waits) or posting to it.
    std::function<bool()> gardivoRunning;
    std::function<bool(uint32_t message, int64_t wParam, int64_t lParam)> sendToGardivo;
    std::function<bool(uint32_t message, int64_t wParam, int64_t lParam)> postToGardivo;
    // Starts a program, not waiting for it; false when it cannot be started.
    std::function<bool(const std::string& program, const std::vector<std::string>& arguments)> startProgram;
    // Opens a document with the desktop's handler.
    std::function<bool(const std::string& path)> openDocument;
    // Asks for a file to open: caption, filter; empty when the user cancels.
    std::function<QString(QWidget* parent, const QString& caption, const QString& filter)> chooseFile;
    // The folder of the autostart entry.
    std::string autostartDirectory;
    std::function<std::vector<MountedFileSystem>()> mounts;
};

// Names the application as cfgwiz. No display name is set: the desktop would add it to every
// window title, and the windows' captions are their own.
void nameWizardApplication(QCoreApplication& application);

class SettingsForm final : public QDialog {
    Q_OBJECT
public:
    static constexpr const char* kCaption = "Tavrin Gardivo Setup";
    // The endpoint other programs reach an open wizard by (its window class).
    static constexpr const char* kEndpointName = "TfrmSetup";
    static constexpr int kWidth = 629;
    static constexpr int kHeight = 532;
    static constexpr const char* kVideoStandards[13] = {
        "NTSC_M", "NTSC_M_JAPAN", "NTSC_N",   "NTSC_443", "PAL_BGH",  "PAL_M",   "PAL_N",
        "PAL_DK", "PAL_I",        "SECAM_BG", "SECAM_L",  "SECAM_DK", "SECAM_K1"};

    explicit SettingsForm(WizardEnvironment environment, QWidget* parent = nullptr);
    ~SettingsForm() override;

    // The record as the controls show it (for tests: what OK would save).
    SettingsStore& store() { return *m_store; }

    // The buttons' work.
    bool pressOk();
    void pressCancel();
    // Cancel, Escape and the window's close box.
    void reject() override;
    void pressDefault();
    void pressHelp();
    // WM_APP_SELECT_DEVICE from gardivo: the device list changed.
    void refreshDevices();
    // Listens as "TfrmSetup": gardivo's WM_APP_SELECT_DEVICE refreshes the devices,
    // WM_APP_SETUP_OK presses OK. False when another wizard listens already.
    bool listen();

    // Controls, for tests and screenshots.
    QTabWidget* tabs() const { return m_tabs; }
    QSlider* sensitivity() const { return m_sensitivity; }
    QSlider* detectRate() const { return m_detectRate; }
    QLineEdit* workingDirectory() const { return m_workingDirectory; }
    QPushButton* workingDirectoryBrowse() const { return m_browseDirectory; }
    QRadioButton* windowStyle(int value) const;
    QRadioButton* regionMode(int value) const;
    QCheckBox* autoRun() const { return m_autoRun; }
    QCheckBox* warningSound() const { return m_warningSound; }
    QCheckBox* scheduled() const { return m_scheduled; }
    QSpinBox* startDelay() const { return m_startDelay; }
    QRadioButton* tracingMode(int value) const;
    QSpinBox* releaseTime() const { return m_releaseTime; }
    QRadioButton* stopRule(int value) const;
    QSpinBox* conditionLimit() const { return m_conditionLimit; }
    QCheckBox* recording() const { return m_recording; }
    QSpinBox* timeLimit() const { return m_timeLimit; }
    QSpinBox* frameRate() const { return m_frameRate; }
    QCheckBox* sendEmail() const { return m_sendEmail; }
    QLineEdit* emailAddress() const { return m_emailAddress; }
    QLineEdit* emailCc() const { return m_emailCc; }
    QPushButton* emailBodyButton() const { return m_emailBody; }
    QPushButton* smtpButton() const { return m_smtp; }
    QCheckBox* phoneCall() const { return m_phoneCall; }
    QComboBox* country() const { return m_country; }
    QLineEdit* areaCode() const { return m_areaCode; }
    QLineEdit* phoneNumber() const { return m_phoneNumber; }
    QLineEdit* waveFile() const { return m_waveFile; }
    QPushButton* waveBrowse() const { return m_waveBrowse; }
    QSpinBox* redials() const { return m_redials; }
    QCheckBox* runProgram() const { return m_runProgram; }
    QLineEdit* programFile() const { return m_programFile; }
    QComboBox* captureDevice() const { return m_captureDevice; }
    QComboBox* videoStandard() const { return m_videoStandard; }
    QSlider* colour(int which) const { return m_colour[which]; }
    QLabel* colourValue(int which) const { return m_colourValue[which]; }
    QLabel* colourMinimum(int which) const { return m_colourMinimum[which]; }
    QLabel* colourMaximum(int which) const { return m_colourMaximum[which]; }
    QPushButton* resetColours() const { return m_resetColours; }
    DirectoryChooser* directoryChooser();
    QSpinBox* preRecord() const { return m_preRecord; }
    QCheckBox* playableCopies() const { return m_playableCopies; }
    QCheckBox* retainSize() const { return m_retainSize; }
    QDoubleSpinBox* retainGigabytes() const { return m_retainGigabytes; }
    QCheckBox* retainAge() const { return m_retainAge; }
    QSpinBox* retainDays() const { return m_retainDays; }
    QCheckBox* lightingRule() const { return m_lightingRule; }
    QSpinBox* lightingPercent() const { return m_lightingPercent; }
    QCheckBox* mailPlayableCopy() const { return m_mailPlayableCopy; }
    QComboBox* mailPicture() const { return m_mailPicture; }
    QCheckBox* mqtt() const { return m_mqtt; }
    QLineEdit* mqttHost() const { return m_mqttHost; }
    QSpinBox* mqttPort() const { return m_mqttPort; }
    QCheckBox* mqttTls() const { return m_mqttTls; }
    QLineEdit* mqttUser() const { return m_mqttUser; }
    QLineEdit* mqttPassword() const { return m_mqttPassword; }
    QCheckBox* mqttPlainPassword() const { return m_mqttPlainPassword; }
    QLineEdit* mqttName() const { return m_mqttName; }
    QCheckBox* mqttCommands() const { return m_mqttCommands; }
    QCheckBox* offsite() const { return m_offsite; }
    QLineEdit* offsiteRemote() const { return m_offsiteRemote; }
    QCheckBox* web() const { return m_web; }
    QSpinBox* webPort() const { return m_webPort; }
    QLineEdit* webUser() const { return m_webUser; }
    QLineEdit* webPassword() const { return m_webPassword; }
    QLabel* webFingerprint() const { return m_webFingerprint; }
    QLineEdit* webCert() const { return m_webCert; }
    QLineEdit* webKey() const { return m_webKey; }

    // Where the body dialog's text is kept until OK.
    const std::string& emailBody() const { return m_emailBodyText; }

private:
    void buildMainTab(QWidget* tab);
    void buildWorkingModeTab(QWidget* tab);
    void buildHandlingTab(QWidget* tab);
    void buildDeviceTab(QWidget* tab);
    void buildStorageTab(QWidget* tab);
    void loadStorageControls();
    EvidenceOptions storageControls() const;
    void applyStorageEnableRules();
    void buildConnectionsTab(QWidget* tab);
    void loadConnectionControls();
    ConnectionOptions connectionControls() const;
    void applyConnectionEnableRules();
    bool checkConnections();
    std::string webAccountsFile() const;
    void showWebFingerprint();
    bool saveWebUser();
    void makeStore();
    void loadControls();
    void saveControls();
    void applyEnableRules();
    void loadDevices();
    void loadColours();
    void limitPhoneParts();
    bool checkWorkingDirectory();
    void fail(const char* text, QWidget* focus);
    void captureDeviceChosen(int index);
    void browseWaveFile();
    void browseProgram();

    WizardEnvironment m_env;
    std::unique_ptr<SettingsStore> m_store;
    std::unique_ptr<WizardSettings> m_wizard;
    std::vector<std::string> m_devices;
    ProcAmpRange m_ranges[4];
    std::string m_emailBodyText;
    bool m_loading = false;
    // The phone number's parts as typed, before the country's length limits.
    QString m_typedArea;
    QString m_typedNumber;
    bool m_limiting = false;
    DirectoryChooser* m_chooser = nullptr;
    std::unique_ptr<LocalEndpoint> m_endpoint;

    QTabWidget* m_tabs;
    // Main
    QSlider* m_sensitivity;
    QSlider* m_detectRate;
    QLineEdit* m_workingDirectory;
    QPushButton* m_browseDirectory;
    QRadioButton* m_windowStyle[3];
    QRadioButton* m_regionMode[2];
    QCheckBox* m_autoRun;
    QCheckBox* m_warningSound;
    QCheckBox* m_scheduled;
    QSpinBox* m_startDelay;
    // Working Mode
    QRadioButton* m_tracingMode[3];
    QLabel* m_releaseBefore;
    QLabel* m_releaseAfter;
    QSpinBox* m_releaseTime;
    QRadioButton* m_stopRule[3];
    QSpinBox* m_conditionLimit;
    // Handling Procedures
    QCheckBox* m_recording;
    QGroupBox* m_recordingGroup;
    QSpinBox* m_timeLimit;
    QSpinBox* m_frameRate;
    QCheckBox* m_sendEmail;
    QList<QWidget*> m_emailControls;
    QLineEdit* m_emailAddress;
    QLineEdit* m_emailCc;
    QPushButton* m_emailBody;
    QPushButton* m_smtp;
    QCheckBox* m_phoneCall;
    QGroupBox* m_phoneGroup;
    QComboBox* m_country;
    QLineEdit* m_areaCode;
    QLineEdit* m_phoneNumber;
    QLineEdit* m_waveFile;
    QPushButton* m_waveBrowse;
    QSpinBox* m_redials;
    QCheckBox* m_runProgram;
    QList<QWidget*> m_programControls;
    QLineEdit* m_programFile;
    // Device
    QComboBox* m_captureDevice;
    QComboBox* m_videoStandard;
    QSlider* m_colour[4];
    QLabel* m_colourValue[4];
    QLabel* m_colourMinimum[4];
    QLabel* m_colourMaximum[4];
    QPushButton* m_resetColours;
    // Storage and clips
    QSpinBox* m_preRecord;
    QCheckBox* m_playableCopies;
    QCheckBox* m_retainSize;
    QDoubleSpinBox* m_retainGigabytes;
    QCheckBox* m_retainAge;
    QSpinBox* m_retainDays;
    QCheckBox* m_lightingRule;
    QSpinBox* m_lightingPercent;
    QCheckBox* m_mailPlayableCopy;
    QComboBox* m_mailPicture;
    // Connections
    QCheckBox* m_mqtt;
    QGroupBox* m_mqttGroup;
    QLineEdit* m_mqttHost;
    QSpinBox* m_mqttPort;
    QCheckBox* m_mqttTls;
    QLineEdit* m_mqttCaFile;
    QLineEdit* m_mqttUser;
    QLineEdit* m_mqttPassword;
    QCheckBox* m_mqttPlainPassword;
    QLineEdit* m_mqttName;
    QCheckBox* m_mqttDiscovery;
    QCheckBox* m_mqttCommands;
    QCheckBox* m_offsite;
    QGroupBox* m_offsiteGroup;
    QLineEdit* m_offsiteRemote;
    QLineEdit* m_offsiteConfig;
    QCheckBox* m_web;
    QGroupBox* m_webGroup;
    QSpinBox* m_webPort;
    QSpinBox* m_webRate;
    QLineEdit* m_webUser;
    QLineEdit* m_webPassword;
    QLabel* m_webFingerprint;
    QLineEdit* m_webCert; // the user's own certificate and key; empty: Gardivo's own
    QLineEdit* m_webKey;
};

} // namespace gardivo
