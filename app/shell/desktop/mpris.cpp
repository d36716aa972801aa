#include "app/shell/desktop/mpris.h"

#include <QDBusAbstractAdaptor>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QFileInfo>

#include "app/shell/main_window.h"

namespace quil::shell {

namespace {

constexpr const char* kTrackPath = "/org/quillet/track/current";

class RootAdaptor final : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2")
    Q_PROPERTY(bool CanQuit READ CanQuit)
    Q_PROPERTY(bool CanRaise READ CanRaise)
    Q_PROPERTY(bool HasTrackList READ HasTrackList)
    Q_PROPERTY(QString Identity READ Identity)
    Q_PROPERTY(QString DesktopEntry READ DesktopEntry)
    Q_PROPERTY(QStringList SupportedUriSchemes READ SupportedUriSchemes)
    Q_PROPERTY(QStringList SupportedMimeTypes READ SupportedMimeTypes)

public:
    explicit RootAdaptor(Mpris* mpris) : QDBusAbstractAdaptor(mpris), mpris_(mpris) {}
    bool CanQuit() const { return true; }
    bool CanRaise() const { return true; }
    bool HasTrackList() const { return false; }
    QString Identity() const { return QStringLiteral("Quillet"); }
    QString DesktopEntry() const { return QStringLiteral("quillet"); }
    QStringList SupportedUriSchemes() const { return {}; }
    QStringList SupportedMimeTypes() const { return {}; }

public slots:
    void Raise() { mpris_->window().ShowFromTray(); }
    void Quit() { mpris_->window().close(); }

private:
    Mpris* mpris_;
};

class PlayerAdaptor final : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2.Player")
    Q_PROPERTY(QString PlaybackStatus READ PlaybackStatus)
    Q_PROPERTY(double Rate READ Rate)
    Q_PROPERTY(double MinimumRate READ Rate)
    Q_PROPERTY(double MaximumRate READ Rate)
    Q_PROPERTY(QVariantMap Metadata READ Metadata)
    Q_PROPERTY(double Volume READ Volume)
    Q_PROPERTY(qlonglong Position READ Position)
    Q_PROPERTY(bool CanGoNext READ CanControl)
    Q_PROPERTY(bool CanGoPrevious READ CanControl)
    Q_PROPERTY(bool CanPlay READ CanControl)
    Q_PROPERTY(bool CanPause READ CanControl)
    Q_PROPERTY(bool CanSeek READ CanControl)
    Q_PROPERTY(bool CanControl READ CanControl)

public:
    explicit PlayerAdaptor(Mpris* mpris) : QDBusAbstractAdaptor(mpris), mpris_(mpris) {}
    QString PlaybackStatus() const { return mpris_->PlaybackStatus(); }
    double Rate() const { return 1.0; }
    QVariantMap Metadata() const { return mpris_->Metadata(); }
    double Volume() const { return 1.0; }
    qlonglong Position() const { return mpris_->PositionMicroseconds(); }
    bool CanControl() const { return true; }

public slots:
    void Next() { window().Next(); }
    void Previous() { window().Previous(); }
    void Pause() {
        if (mpris_->PlaybackStatus() == "Playing") window().Pause();
    }
    void PlayPause() {
        const QString status = mpris_->PlaybackStatus();
        if (status == "Playing")
            window().Pause();
        else if (status == "Paused" && window().IsGrabbing())
            window().Record();  // Record resumes a paused grab
        else
            window().Play();
    }
    void Stop() { window().Stop(); }
    void Play() {
        if (mpris_->PlaybackStatus() == "Paused" && window().IsGrabbing())
            window().Record();
        else if (mpris_->PlaybackStatus() != "Playing")
            window().Play();
    }
    void Seek(qlonglong offset) {
        window().Seek(window().ProgressPosition() + static_cast<int>(offset / 1'000'000));
    }
    void SetPosition(const QDBusObjectPath& track, qlonglong position) {
        if (track.path() != kTrackPath) return;
        window().Seek(static_cast<int>(position / 1'000'000));
    }
    void OpenUri(const QString&) {}

signals:
    void Seeked(qlonglong position);

private:
    MainWindow& window() const { return mpris_->window(); }
    Mpris* mpris_;
};

}  // namespace

Mpris::Mpris(MainWindow& window, QDBusConnection bus, QObject* parent)
    : QObject(parent), window_(window), bus_(std::move(bus)) {
    new RootAdaptor(this);
    new PlayerAdaptor(this);
    if (!bus_.isConnected()) return;
    registered_ = bus_.registerObject(kObjectPath, this) && bus_.registerService(kServiceName);
    lastStatus_ = PlaybackStatus();
    lastMetadata_ = Metadata();
    connect(&window_, &MainWindow::ActivityChanged, this, &Mpris::Announce);
}

Mpris::~Mpris() {
    if (!registered_) return;
    bus_.unregisterService(kServiceName);
    bus_.unregisterObject(kObjectPath);
}

QString Mpris::PlaybackStatus() const {
    if (!window_.IsBusy() && !window_.IsPaused()) return QStringLiteral("Stopped");
    return window_.IsPaused() ? QStringLiteral("Paused") : QStringLiteral("Playing");
}

QVariantMap Mpris::Metadata() const {
    QVariantMap metadata;
    metadata["mpris:trackid"] = QVariant::fromValue(QDBusObjectPath(kTrackPath));
    const QString path = window_.PathText();
    if (!path.isEmpty()) {
        const QFileInfo file(path);
        metadata["xesam:title"] = file.fileName().isEmpty() ? path : file.fileName();
        metadata["xesam:url"] = path.contains("://") ? path : QUrl::fromLocalFile(path).toString();
    }
    // The progress slider counts seconds, except on the CD page where it is a percentage.
    if (window_.CurrentPageIndex() != 2 && window_.ProgressMaximum() > 0)
        metadata["mpris:length"] = qlonglong{window_.ProgressMaximum()} * 1'000'000;
    return metadata;
}

qlonglong Mpris::PositionMicroseconds() const {
    return qlonglong{window_.ProgressPosition()} * 1'000'000;
}

void Mpris::Announce() {
    QVariantMap changed;
    const QString status = PlaybackStatus();
    if (status != lastStatus_) changed["PlaybackStatus"] = lastStatus_ = status;
    const QVariantMap metadata = Metadata();
    if (metadata != lastMetadata_) changed["Metadata"] = lastMetadata_ = metadata;
    if (changed.isEmpty() || !registered_) return;
    QDBusMessage signal = QDBusMessage::createSignal(kObjectPath, "org.freedesktop.DBus.Properties",
                                                     "PropertiesChanged");
    signal << QStringLiteral("org.mpris.MediaPlayer2.Player") << changed << QStringList();
    bus_.send(signal);
}

}  // namespace quil::shell

#include "mpris.moc"
