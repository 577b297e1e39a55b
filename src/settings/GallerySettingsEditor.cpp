#include "settings/GallerySettingsEditor.h"

#include "platform/UserDefaults.h"
#include "settings/GallerySettingsServices.h"

#include <QStringList>

namespace vennimo {

namespace {

Error settingsError(int code, const std::optional<QString>& text, const char* fallback) {
    const QString message = text && !text->isEmpty() ? *text : QString::fromUtf8(fallback);
    return Error::make(QString::fromLatin1(GallerySettingsEditor::kErrorDomain), code, message);
}

} // namespace

GallerySettingsEditor::GallerySettingsEditor(GallerySettingsServices& services, UserDefaults& defaults,
                                             QObject* parent)
    : QObject(parent)
    , m_services(services)
    , m_defaults(defaults) {
    GallerySettingsValues current;
    current.folders = services.folders();
    current.login = services.loginEnabled();
    current.alwaysOnTop = defaults.galleryAlwaysOnTop();
    current.style = HangingStyle::fromDefaults(defaults);
    current.spaceOpener = SpaceKeyOpener::load(defaults);
    if (services.hasShortcutController())
        current.shortcut = services.shortcut();
    m_shortcutNeedsRegistration = services.hasShortcutController() && !services.shortcutRegistered();
    m_needsSourceRepair = services.sourceMessage().has_value();
    m_draft = current;
    m_saved = current;
    m_actions = makeActions();
    if (const std::optional<QString> problem = services.sourceMessage())
        m_message = problem;
    else if (services.hasShortcutController())
        m_message = services.shortcutError();
}

GallerySettingsEditor::~GallerySettingsEditor() = default;

GallerySettingsSaveActions GallerySettingsEditor::makeActions() {
    GallerySettingsSaveActions actions;
    GallerySettingsServices& services = m_services;
    UserDefaults& defaults = m_defaults;
    actions.folders = [&services](const QList<SourceFolder>& folders) -> Result<QList<SourceFolder>> {
        if (const Status saved = services.saveFolders(folders); !saved)
            return saved.error();
        return services.folders();
    };
    actions.login = [&services](bool login) -> Status {
        // The entry may have been changed behind the application's back since the window opened.
        services.refreshLogin();
        if (login == services.loginEnabled() || services.setLoginEnabled(login))
            return {};
        return settingsError(kLoginErrorCode, services.loginMessage(), kLoginUnfinishedMessage);
    };
    actions.shortcut = [&services](const GalleryShortcut& shortcut) -> Status {
        if (services.hasShortcutController() && services.applyShortcut(shortcut, true))
            return {};
        return settingsError(kShortcutErrorCode,
                             services.hasShortcutController() ? services.shortcutError() : std::nullopt,
                             kShortcutUnavailableMessage);
    };
    actions.appearance = [&services, &defaults](const HangingStyle& style, bool alwaysOnTop) -> Status {
        // Only what differs is written; the first write the file refuses ends the step.
        const HangingStyle stored = HangingStyle::fromDefaults(defaults);
        const auto refused = [&defaults] {
            return Status(Error::make(QString::fromLatin1(kErrorDomain), kAppearanceErrorCode,
                                      defaults.writeStatus().error().localizedDescription()));
        };
        if (style.offCenter != stored.offCenter && !defaults.setClotheslineOffCenterPeg(style.offCenter))
            return refused();
        if (style.strictlyVertical != stored.strictlyVertical &&
            !defaults.setClotheslineStrictVertical(style.strictlyVertical))
            return refused();
        if (alwaysOnTop != defaults.galleryAlwaysOnTop()) {
            if (!defaults.setGalleryAlwaysOnTop(alwaysOnTop))
                return refused();
            services.refreshWindowLayers();
        }
        return {};
    };
    actions.spaceOpener = [&defaults](const SpaceKeyOpener& opener) -> Status {
        if (opener.save(defaults))
            return {};
        return Error::make(QString::fromLatin1(kErrorDomain), kSpaceOpenerErrorCode,
                           defaults.writeStatus().error().localizedDescription());
    };
    return actions;
}

void GallerySettingsEditor::setDraft(const GallerySettingsValues& draft) {
    if (m_draft == draft)
        return;
    m_draft = draft;
    Q_EMIT draftChanged();
}

void GallerySettingsEditor::setSaved(const GallerySettingsValues& saved) {
    if (m_saved == saved)
        return;
    m_saved = saved;
    Q_EMIT savedChanged();
}

void GallerySettingsEditor::setMessage(const std::optional<QString>& message) {
    if (m_message == message)
        return;
    m_message = message;
    Q_EMIT messageChanged();
}

void GallerySettingsEditor::setSaving(bool saving) {
    if (m_saving == saving)
        return;
    m_saving = saving;
    Q_EMIT savingChanged();
}

bool GallerySettingsEditor::hasChanges() const {
    return m_draft != m_saved || m_needsSourceRepair;
}

void GallerySettingsEditor::discard() {
    // The message goes first, so that the draft's return does not look like an edit worth saving:
    // a window closing registers no key.
    setMessage(std::nullopt);
    setDraft(m_saved);
}

bool GallerySettingsEditor::save() {
    if (m_saving)
        return false;
    setSaving(true);
    const GallerySettingsValues before = m_saved;
    QStringList failures;

    // Each step reads the draft and the saved values afresh: an earlier step may have changed them.
    if (const std::optional<GalleryShortcut> shortcut = m_draft.shortcut) {
        if (!shortcut->isValid()) {
            failures.append(QString::fromUtf8(kInvalidShortcutMessage));
        } else if (m_saved.shortcut != shortcut || m_shortcutNeedsRegistration) {
            if (const Status applied = m_actions.shortcut(*shortcut)) {
                GallerySettingsValues saved = m_saved;
                saved.shortcut = shortcut;
                m_shortcutNeedsRegistration = false;
                setSaved(saved);
            } else {
                failures.append(applied.error().localizedDescription());
            }
        }
    }

    if (m_draft.folders != m_saved.folders || m_needsSourceRepair) {
        Result<QList<SourceFolder>> stored = m_actions.folders(m_draft.folders);
        if (stored) {
            m_needsSourceRepair = false;
            GallerySettingsValues saved = m_saved;
            saved.folders = *stored;
            setSaved(saved);
            GallerySettingsValues draft = m_draft;
            draft.folders = *stored;
            setDraft(draft);
        } else {
            failures.append(stored.error().localizedDescription());
        }
    }

    if (m_draft.login != m_saved.login) {
        if (const Status applied = m_actions.login(m_draft.login)) {
            GallerySettingsValues saved = m_saved;
            saved.login = m_draft.login;
            setSaved(saved);
        } else {
            failures.append(applied.error().localizedDescription());
        }
    }

    if (m_draft.style != m_saved.style || m_draft.alwaysOnTop != m_saved.alwaysOnTop) {
        if (const Status applied = m_actions.appearance(m_draft.style, m_draft.alwaysOnTop)) {
            GallerySettingsValues saved = m_saved;
            saved.style = m_draft.style;
            saved.alwaysOnTop = m_draft.alwaysOnTop;
            setSaved(saved);
        } else {
            failures.append(applied.error().localizedDescription());
        }
    }

    if (m_draft.spaceOpener != m_saved.spaceOpener) {
        if (const Status applied = m_actions.spaceOpener(m_draft.spaceOpener)) {
            GallerySettingsValues saved = m_saved;
            saved.spaceOpener = m_draft.spaceOpener;
            setSaved(saved);
        } else {
            failures.append(applied.error().localizedDescription());
        }
    }

    if (failures.isEmpty()) {
        setMessage(std::nullopt);
        setSaving(false);
        return true;
    }
    const char* prefix = m_saved == before ? kNothingAppliedPrefix : kPartlyAppliedPrefix;
    setMessage(QString::fromUtf8(prefix) + failures.join(QLatin1Char('\n')));
    setSaving(false);
    return false;
}

} // namespace vennimo
