#pragma once

#include "core/MarkCommands.h"
#include "ui/EventYield.h"
#include "ui/MainCommands.h"
#include "ui/MainServices.h"
#include "ui/MainView.h"

#include <QPointer>
#include <QWidget>
#include <array>
#include <functional>
#include <memory>

class QAbstractButton;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;

namespace quavera {

class AboutWindow;
class PreviewWindow;

// The main window Frm: the source and destination rows, the player, the mark and command
// buttons, the time row and the hidden size fields. It binds the widgets to MarkCommands and
// MainCommands and keeps every command button still while a cut runs.
class MainWindow : public QWidget, public MainView {
    Q_OBJECT
public:
    explicit MainWindow(const MainServices& services, QWidget* parent = nullptr);
    ~MainWindow() override;
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    [[nodiscard]] const MarkCommands& marks() const { return *marks_; }

    // Loads `path` as if it had been chosen with 浏览 (the file of "Open with", or one
    // dropped on the window); like the buttons, does nothing while a cut runs.
    void openSource(const std::string& path);

    // CutWindow
    void setBusyPointer(bool busy) override;
    void setStatusCaption(const std::string& text) override;
    void setStartCaption(const std::string& text) override;
    void setEndCaption(const std::string& text) override;
    void setTotalCaption(const std::string& text) override;
    bool yieldToEvents() override;

    // MainView
    void showPaths() override;
    void setSizeCaption(const std::string& text) override;
    MediaPlayer& showPreview() override;
    void showAbout() override;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void buildTopArea();
    void buildButtonRow();
    void buildTimeRow();
    void buildSizeFields();
    void setTabOrderAndFocus();
    // Runs `command` on every click of `button`, unless a cut is running.
    void bindCommand(QAbstractButton* button, std::function<void()> command);
    void runCommand(const std::function<void()>& command);
    void mirrorSplitFields();

    MainServices services_;
    PlayerView* player_ = nullptr; // MDplay
    std::unique_ptr<MarkCommands> marks_;
    std::unique_ptr<MainCommands> commands_;

    QGroupBox* frame2_ = nullptr;
    QLineEdit* txtSource_ = nullptr;
    QLineEdit* txtDestdir_ = nullptr;
    QPushButton* cmdBrowseS_ = nullptr;
    QPushButton* cmdBrowseD_ = nullptr;
    QPushButton* cmdO_ = nullptr;
    QPushButton* cmdQ_ = nullptr;
    QPushButton* command1_ = nullptr;
    QPushButton* command2_ = nullptr;
    QPushButton* command3_ = nullptr;
    QPushButton* command4_ = nullptr;
    QLabel* lb_ = nullptr;
    QLabel* lbz_ = nullptr;
    QLabel* lbk_ = nullptr;
    QLabel* lbj_ = nullptr;
    QGroupBox* frame1_ = nullptr;
    std::array<QLineEdit*, SplitFields::kCount> txtSplit_{};
    QTimer* timer1_ = nullptr; // Timer1
    EventYield yield_;         // the cut's turns for the event loop

    QPointer<PreviewWindow> preview_;
    QPointer<AboutWindow> about_;
    bool closeRequested_ = false; // the user closed the window while a cut was running
};

} // namespace quavera
