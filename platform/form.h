#pragma once

// The window: a top-level widget whose client area hosts the child controls,
// with the close query, key and resize events, and the application object
// that creates the one main form and runs the event loop.

#include <QWidget>

#include <exception>
#include <memory>
#include <string>

#include "platform/controls.h"
#include "platform/types.h"

class FormWidget;

enum class TFormPosition { Designed, DesktopCenter };
enum class TWindowState : std::uint8_t { wsNormal = 0, wsMinimized = 1, wsMaximized = 2 };

class TForm : public TFmxObject {
public:
    explicit TForm(TComponent* AOwner);
    ~TForm() override;

    const std::string& Caption() const { return m_caption; }
    void SetCaption(const std::string& C);
    int ClientWidth() const;
    int ClientHeight() const;
    void SetClientWidth(int W);
    void SetClientHeight(int H);
    TFormPosition Position() const { return m_position; }
    void SetPosition(TFormPosition P) { m_position = P; }
    TWindowState WindowState() const;
    void SetShowFullScreenIcon(bool Show);

    // Asks to close: runs OnCloseQuery; when it allows, the window closes
    // (and the application's Run returns).
    void Close();
    void Show();
    bool isClosed() const { return m_closed; }

    TCloseQueryEvent OnCloseQuery;
    TKeyEvent OnKeyDown;
    TNotifyEvent OnResize;

    QWidget* widget() const override;

    // Platform side, called by the window widget.
    bool closeQuery();
    void keyDown(std::uint16_t Key, char16_t KeyChar, TShiftState Shift);
    void resized();

private:
    FormWidget* m_widget = nullptr;
    std::string m_caption;
    TFormPosition m_position = TFormPosition::Designed;
    bool m_closed = false;
};

class QApplication;

class TApplication {
public:
    // Creates the Qt application. argc must stay valid for the whole run.
    void Initialize(int& argc, char** argv);

    // Creates the main form (its construction loads the window definition
    // before the constructor body runs) and stores it in Reference.
    template <class FormClass>
    void CreateForm(FormClass*& Reference)
    {
        auto form = std::make_unique<FormClass>(nullptr);
        Reference = form.get();
        m_mainForm = std::move(form);
    }

    // Shows the main form and runs the event loop until it has closed.
    void Run();
    void ShowException(const std::exception& E);
    void ShowException(const std::string& Message);
    // Frees the forms.
    void Terminate();
    // What the process should end with: 0; 1 after an exception was shown;
    // 128 + the signal that ended the run.
    int ExitCode() const { return m_exitCode; }
    TForm* MainForm() const { return m_mainForm.get(); }

private:
    std::unique_ptr<QApplication> m_app;
    std::unique_ptr<TForm> m_mainForm;
    int m_exitCode = 0;
};

extern TApplication Application;
