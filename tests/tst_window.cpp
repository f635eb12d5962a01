// The window definition, its loader, and the window's start state after
// construction.

#include <QtTest>

#include <unistd.h>

#include <map>
#include <set>

#include "app/QuorlEye_main_form.h"
#include "platform/camera/demo_camera_source.h"
#include "platform/screen.h"
#include "resources/main_window.h"
#include "support/fake_screen_service.h"
#include "support/scripted_camera_source.h"

namespace {

// Binds nothing and handles nothing: loads the definition as it stands.
PublishedClass inertPublished(const WindowDefinition& d)
{
    PublishedClass p;
    for (const std::string& f : d.PublishedFields)
        p.Fields.emplace_back(f, [](TComponent*) { return true; });
    for (const EventRow& e : d.Events) {
        PublishedHandler h;
        if (e.Event == "OnMouseDown" || e.Event == "OnMouseUp")
            h = TMouseEvent([](TObject*, TMouseButton, TShiftState, float, float) {});
        else if (e.Event == "OnMouseMove")
            h = TMouseMoveEvent([](TObject*, TShiftState, float, float) {});
        else if (e.Event == "OnKeyDown")
            h = TKeyEvent([](TObject*, std::uint16_t&, char16_t&, TShiftState) {});
        else if (e.Event == "OnCloseQuery")
            h = TCloseQueryEvent([](TObject*, bool&) {});
        else if (e.Event == "OnSampleBufferReady")
            h = TSampleBufferReadyEvent([](TObject*, std::int64_t) {});
        else
            h = TNotifyEvent([](TObject*) {});
        p.Methods.emplace_back(e.Handler, h);
    }
    return p;
}

TComponent* findComponent(TComponent& owner, const std::string& name)
{
    for (int i = 0; i < owner.ComponentCount(); ++i)
        if (owner.Components(i)->Name() == name)
            return owner.Components(i);
    return nullptr;
}

}  // namespace

class TestWindow : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { InstallCameraSource(std::make_shared<DemoCameraSource>()); }
    void cleanupTestCase() { InstallCameraSource(nullptr); }

    void everyHandlerWiredExactlyOnce()
    {
        const WindowDefinition& d = mainWindowDefinition();
        TQuorlEyeMainForm form(nullptr);
        const PublishedClass published = publishedClass(form);
        QCOMPARE(published.Methods.size(), std::size_t(38));
        QCOMPARE(d.Events.size(), std::size_t(38));

        std::map<std::string, int> uses;
        std::set<std::pair<std::string, std::string>> events;
        for (const EventRow& e : d.Events) {
            ++uses[e.Handler];
            QVERIFY2(events.insert({e.Component, e.Event}).second, (e.Component + "." + e.Event).c_str());
        }
        for (const auto& [name, handler] : published.Methods)
            QVERIFY2(uses[name] == 1, name.c_str());
        // Each handler is named after the component and event it serves.
        for (const EventRow& e : d.Events)
            QCOMPARE(e.Handler, (e.Component.empty() ? "Form" : e.Component) + e.Event.substr(2));
        // The 19 published fields are bound to the components of their names.
        QCOMPARE(d.PublishedFields.size(), std::size_t(19));
        QCOMPARE(form.CameraResolutionsLabel, findComponent(form, "CameraResolutionsLabel"));
        QCOMPARE(static_cast<TComponent*>(form.CameraComponent), findComponent(form, "CameraComponent"));
    }

    // Right after loading, before any constructor body: the values of the
    // definition as they stand.
    void definitionAsLoaded()
    {
        const WindowDefinition& d = mainWindowDefinition();
        TForm form(nullptr);
        LoadWindowDefinition(form, d, inertPublished(d));

        QCOMPARE(form.Caption(), std::string("Quorl Eye Vision"));
        QCOMPARE(form.ClientWidth(), 640);
        QCOMPARE(form.ClientHeight(), 480);
        QCOMPARE(form.Position(), TFormPosition::DesktopCenter);

        // Stacking order: the window's direct children in definition order.
        const char* const stacking[] = {"OutputRectangle", "CameraResolutionsTrackBar", "CameraIconRectangle",
            "SettingsIconRectangle", "EyeIconRectangle", "WarningCalloutRectangle", "AboutIconRectangle",
            "SwitchFrontAndBackCameraIconRectangle", "AboutMemo", "CameraResolutionsRectangle", "OKButton"};
        QCOMPARE(form.ChildrenCount(), int(std::size(stacking)));
        for (int i = 0; i < form.ChildrenCount(); ++i) {
            QCOMPARE(form.Children(i)->Name(), std::string(stacking[i]));
            QVERIFY(form.Children(i)->Visible());
            QCOMPARE(form.Children(i)->Opacity(), 1.0f);
        }
        for (const char* t : {"ButtonsVisibleTimer", "WarningTimer", "ExitCameraTimer", "PermissionsChangedTimer"})
            QVERIFY(!dynamic_cast<TTimer*>(findComponent(form, t))->Enabled());

        auto* label = dynamic_cast<TLabel*>(findComponent(form, "CameraResolutionsLabel"));
        QCOMPARE(label->Text(), std::string("Camera Resolutions Label"));
        QCOMPARE(label->Parent(), findComponent(form, "CameraResolutionsRectangle"));
        QCOMPARE(label->Position(), (TPointF{8, 0}));
        QCOMPARE(dynamic_cast<TButton*>(findComponent(form, "OKButton"))->Text(), std::string("OK"));
        auto* memo = dynamic_cast<TMemo*>(findComponent(form, "AboutMemo"));
        QCOMPARE(memo->Lines().Count(), 0);
        QVERIFY(memo->ReadOnly());
        QCOMPARE(dynamic_cast<TText*>(findComponent(form, "WarningText"))->Text(), std::string());
        QCOMPARE(dynamic_cast<TControl*>(findComponent(form, "AboutIconRectangle"))->Width(), 49.0f);
        auto* book = dynamic_cast<TStyleBook*>(findComponent(form, "ImageBook"));
        QCOMPARE(book->ImageCount(), 8);

        // Tab goes from control to control in their TabOrder (track bar 1,
        // memo 8, OK 11), not in the definition's order: with the memo at 20
        // it comes after OK.
        WindowDefinition reordered = d;
        for (ComponentRow& c : reordered.Components)
            for (PropertyRow& p : c.Properties)
                if (c.Name == "AboutMemo" && p.Name == "TabOrder")
                    p.Value = "20";
        TForm other(nullptr);
        LoadWindowDefinition(other, reordered, inertPublished(reordered));
        auto next = [](TForm& F, const char* From, const char* To) {
            QWidget* w = dynamic_cast<TControl*>(findComponent(F, From))->widget()->nextInFocusChain();
            while (!(w->focusPolicy() & Qt::TabFocus))
                w = w->nextInFocusChain();
            return w == dynamic_cast<TControl*>(findComponent(F, To))->widget();
        };
        QVERIFY(next(form, "CameraResolutionsTrackBar", "AboutMemo") && next(form, "AboutMemo", "OKButton"));
        QVERIFY(next(other, "CameraResolutionsTrackBar", "OKButton") && next(other, "OKButton", "AboutMemo"));
    }

    void loaderRefusesWhatDoesNotFit_data()
    {
        QTest::addColumn<int>("fault");
        QTest::newRow("unknown class") << 0;
        QTest::newRow("unknown property") << 1;
        QTest::newRow("handler of the wrong kind") << 2;
        QTest::newRow("missing handler") << 3;
        QTest::newRow("unknown parent") << 4;
        QTest::newRow("field without component") << 5;
    }

    void loaderRefusesWhatDoesNotFit()
    {
        QFETCH(int, fault);
        WindowDefinition d = mainWindowDefinition();
        PublishedClass p = inertPublished(d);
        switch (fault) {
        case 0: d.Components[1].ClassName = "TSlider"; break;
        case 1: d.Components[3].Properties.push_back({"Colour", "red"}); break;
        case 2:
            for (auto& m : p.Methods)
                if (m.first == "OKButtonClick")
                    m.second = TMouseMoveEvent([](TObject*, TShiftState, float, float) {});
            break;
        case 3: d.Events.push_back({"OKButton", "OnMouseDown", "OKButtonMouseDown"}); break;
        case 4: d.Components.back().Parent = "NoSuchPanel"; break;
        case 5: d.PublishedFields.push_back("NoSuchComponent"); p.Fields.emplace_back("NoSuchComponent", [](TComponent*) { return true; }); break;
        }
        TForm form(nullptr);
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, LoadWindowDefinition(form, d, p));
    }

    void startState()
    {
        FakeScreenService screen;
        InstallScreenService(&screen);
        TQuorlEyeMainForm form(nullptr);

        QVERIFY(!form.CameraComponent->Active());
        QCOMPARE(form.CameraComponent->Kind(), TCameraKind::FrontCamera);
        QVERIFY(form.IsFrontCamera && form.QuorlEyeMode && form.IsFirstFrame && form.IsClearOutputNeeded);
        QVERIFY(!form.IsToolsVisible);

        // Only the camera icon is visible.
        QVERIFY(form.CameraIconRectangle->Visible());
        for (TControl* c : std::initializer_list<TControl*>{
                 form.SwitchFrontAndBackCameraIconRectangle, form.SettingsIconRectangle, form.EyeIconRectangle,
                 form.AboutIconRectangle, form.CameraResolutionsRectangle, form.CameraResolutionsLabel,
                 form.CameraResolutionsTrackBar, form.OKButton, form.AboutMemo, form.WarningCalloutRectangle})
            QVERIFY2(!c->Visible(), c->Name().c_str());
        QVERIFY(!form.ButtonsVisibleTimer->Enabled());
        QVERIFY(!form.WarningTimer->Enabled());
        QVERIFY(form.IconRepeatStopwatch.IsRunning());
        QVERIFY(!form.IconPressStopwatch.IsRunning());

        // Each icon shows its start image at the image's size.
        const std::pair<TRectangle*, const char*> icons[] = {
            {form.CameraIconRectangle, "camera_off"},  {form.SettingsIconRectangle, "settings"},
            {form.SwitchFrontAndBackCameraIconRectangle, "camera_front"},
            {form.AboutIconRectangle, "about_icon"},   {form.EyeIconRectangle, "eye_quorl"}};
        for (const auto& [icon, key] : icons) {
            QCOMPARE(QSizeF(icon->Width(), icon->Height()), QSizeF(128, 128));
            QCOMPARE(icon->Fill().Kind(), TBrushKind::Bitmap);
            QCOMPARE(icon->Fill().WrapMode(), TWrapMode::TileStretch);
            QCOMPARE(icon->Stroke().Kind(), TBrushKind::None);
            QVERIFY2(icon->Fill().Bitmap().image() == form.ImageBook->FindImage(key)->image(), key);
        }

        // Fonts: 12 points of their own, not the style's.
        QCOMPARE(form.CameraResolutionsLabel->Height(), 20.0f);
        QCOMPARE(form.OKButton->Height(), 35.0f);
        for (TTextControl* t : std::initializer_list<TTextControl*>{form.CameraResolutionsLabel, form.OKButton}) {
            QCOMPARE(t->FontSize(), 12.0f);
            QCOMPARE(t->EffectiveFontSize(), 12.0f);
            QVERIFY(!(t->StyledSettings() & TStyledSetting::Size));
        }

        // The about text, nine lines.
        QCOMPARE(form.AboutMemo->Lines().Count(), 9);
        const std::vector<std::string> lines = form.AboutMemo->Lines().items();
        QCOMPARE(lines[0], std::string("Quorl Eye Vision v.1.0"));
        QVERIFY(lines[1].empty() && lines[4].empty());
        QVERIFY(lines[2].rfind("Some animals, like for example many species of quorls", 0) == 0);
        QVERIFY(lines[3].rfind("The program simulates vision of the quorl eye", 0) == 0);
        QCOMPARE((std::vector<std::string>(lines.begin() + 5, lines.end())),
                 (std::vector<std::string>{"Made by", "https://www.example.org/quorl-eye", "for", "https://www.example.org/"}));
        QCOMPARE(QSizeF(form.AboutMemo->Width(), form.AboutMemo->Height()), QSizeF(400, 200));

        // The output: the whole client area until a picture is fitted.
        QCOMPARE(QSizeF(form.ScreenWidth, form.ScreenHeight), QSizeF(640, 480));
        QCOMPARE(form.OutputDestRect, (TRectF{0, 0, 640, 480}));
        QCOMPARE(form.CameraSourceRect, TRectF{});
        QCOMPARE(form.OutputBitmap().Width(), 300);
        QCOMPARE(form.TitleBarHeight, 0.0);
        RestoreDesktopScreenService();
    }

    void loadBitmapWithUnknownKeyKeepsTheImage()
    {
        TQuorlEyeMainForm form(nullptr);
        const QImage before = form.EyeIconRectangle->Fill().Bitmap().image();
        form.LoadBitmapFromImageBook(form.EyeIconRectangle, "no_such_icon");
        QCOMPARE(form.EyeIconRectangle->Fill().Bitmap().image(), before);
        form.LoadBitmapFromImageBook(form.EyeIconRectangle, "eye_human");
        QCOMPARE(form.EyeIconRectangle->Fill().Bitmap().image(), form.ImageBook->FindImage("eye_human")->image());
    }

    // An exception escaping start-up: shown (in a dialog too where a
    // display is there, never under the offscreen platform), and the run
    // ends in failure, not 0.
    void startUpFailure()
    {
        struct BrokenCamera : ScriptedCameraSource {
            std::vector<TVideoCaptureSetting> captureSettings(TCameraKind) override
            {
                throw std::runtime_error("the camera broke");
            }
        };
        InstallCameraSource(std::make_shared<BrokenCamera>());
        QTemporaryFile err;
        QVERIFY(err.open());
        const int savedStderr = dup(2);
        dup2(err.handle(), 2);
        int argc = 1;
        char name[] = "quorl-eye";
        char* argv[] = {name, nullptr};
        const int code = FMXmain(argc, argv);
        dup2(savedStderr, 2);
        close(savedStderr);
        InstallCameraSource(std::make_shared<DemoCameraSource>());
        QCOMPARE(code, 1);
        QFile written(err.fileName());
        QVERIFY(written.open(QIODevice::ReadOnly));
        QCOMPARE(written.readAll(), "quorl-eye: the camera broke\n");
        QVERIFY(!Application.MainForm());
    }

    void screenSize_data()
    {
        QTest::addColumn<bool>("hasService");
        QTest::addColumn<int>("orientation");
        QTest::addColumn<float>("scale");
        QTest::addColumn<int>("landscape");
        QTest::addColumn<double>("screenScale");

        using O = TScreenOrientation;
        QTest::newRow("landscape") << true << int(O::Landscape) << 2.0f << 1 << 2.0;
        QTest::newRow("portrait") << true << int(O::Portrait) << 1.0f << 0 << 1.0;
        QTest::newRow("inverted portrait") << true << int(O::InvertedPortrait) << 1.0f << 0 << 1.0;
        QTest::newRow("inverted landscape") << true << int(O::InvertedLandscape) << 1.0f << 1 << 1.0;
        QTest::newRow("no screen service: scale 1, never 0") << false << 0 << 0.0f << 1 << 1.0;
        QTest::newRow("a service reporting scale 0") << true << int(O::Landscape) << 0.0f << 1 << 1.0;
    }

    void screenSize()
    {
        QFETCH(bool, hasService);
        QFETCH(int, orientation);
        QFETCH(float, scale);
        FakeScreenService screen;
        screen.orientation = static_cast<TScreenOrientation>(orientation);
        screen.scale = scale;
        InstallScreenService(hasService ? &screen : nullptr);
        TQuorlEyeMainForm form(nullptr);
        QTEST(form.IsLandscape, "landscape");
        QTEST(form.ScreenScale, "screenScale");
        QCOMPARE(form.ScreenHeight, 480.0);  // not divided by a zero scale
        RestoreDesktopScreenService();
    }
};

QTEST_MAIN(TestWindow)
#include "tst_window.moc"
