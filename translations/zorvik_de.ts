<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de">
<context>
    <name>AppDelegate</name>
    <message>
        <source>Zorvik — codes from your iPhone</source>
        <translation>Zorvik – Codes von Ihrem iPhone</translation>
    </message>
</context>
<context>
    <name>AutoFillPanel</name>
    <message>
        <source>It will appear here within a few seconds.</source>
        <translation>Er erscheint hier innerhalb weniger Sekunden.</translation>
    </message>
    <message>
        <source>The last code expired. Tap it again.</source>
        <translation>Der letzte Code ist abgelaufen. Tippen Sie ihn erneut an.</translation>
    </message>
    <message>
        <source>From Zorvik</source>
        <translation>Von Zorvik</translation>
    </message>
    <message>
        <source>Zorvik is ready to fill codes in your browser.</source>
        <translation>Zorvik ist bereit, Codes in Ihrem Browser einzusetzen.</translation>
    </message>
    <message>
        <source>Tap a code on your iPhone or Apple Watch; within seconds your browser offers it below the code field as From Zorvik. Nothing is stored on this computer beyond the last code, and it dies after 90 seconds.</source>
        <translation>Tippen Sie auf Ihrem iPhone oder Ihrer Apple Watch auf einen Code; Sekunden später bietet Ihr Browser ihn unter dem Codefeld als „Von Zorvik“ an. Auf diesem Computer wird nur der letzte Code gespeichert, und er verfällt nach 90 Sekunden.</translation>
    </message>
    <message>
        <source>Done</source>
        <translation>Fertig</translation>
    </message>
    <message>
        <source>different site</source>
        <translation>andere Website</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>Fill</source>
        <translation>Einsetzen</translation>
    </message>
    <message>
        <source>Tap a code on your iPhone or Watch</source>
        <translation>Tippen Sie auf dem iPhone oder der Watch auf einen Code</translation>
    </message>
    <message>
        <source>Refresh</source>
        <translation>Aktualisieren</translation>
    </message>
    <message>
        <source>from %1</source>
        <translation>von %1</translation>
    </message>
    <message>
        <source>expires in %1 s</source>
        <translation>läuft in %1 s ab</translation>
    </message>
</context>
<context>
    <name>CloudSyncCrypto</name>
    <message>
        <source>the sync key is not in the keyring yet: pair with your phone</source>
        <translation>der Sync-Schlüssel ist noch nicht im Schlüsselbund: koppeln Sie Ihr Telefon</translation>
    </message>
</context>
<context>
    <name>CodeArea</name>
    <message>
        <source>Tap a code on your iPhone or Watch</source>
        <translation>Tippen Sie auf dem iPhone oder der Watch auf einen Code</translation>
    </message>
    <message>
        <source>It shows up here for 90 seconds, goes on the clipboard, and your browser offers it as From Zorvik.</source>
        <translation>Er erscheint hier für 90 Sekunden, kommt in die Zwischenablage, und Ihr Browser bietet ihn als „Von Zorvik“ an.</translation>
    </message>
    <message>
        <source>from %1</source>
        <translation>von %1</translation>
    </message>
    <message>
        <source>expires in %1 s</source>
        <translation>läuft in %1 s ab</translation>
    </message>
    <message>
        <source>expired</source>
        <translation>abgelaufen</translation>
    </message>
    <message>
        <source>Copied</source>
        <translation>Kopiert</translation>
    </message>
    <message>
        <source>Copy</source>
        <translation>Kopieren</translation>
    </message>
    <message>
        <source>%1: %2, from %3</source>
        <translation>%1: %2, von %3</translation>
    </message>
    <message>
        <source>New code for %1: %2</source>
        <translation>Neuer Code für %1: %2</translation>
    </message>
</context>
<context>
    <name>ErrorText</name>
    <message>
        <source>no network</source>
        <translation>kein Netzwerk</translation>
    </message>
    <message>
        <source>iCloud is busy; will retry</source>
        <translation>iCloud ist ausgelastet; neuer Versuch folgt</translation>
    </message>
    <message>
        <source>not signed in to iCloud</source>
        <translation>nicht bei iCloud angemeldet</translation>
    </message>
    <message>
        <source>iCloud refused (permission)</source>
        <translation>iCloud hat abgelehnt (Berechtigung)</translation>
    </message>
    <message>
        <source>iCloud schema: </source>
        <translation>iCloud-Schema: </translation>
    </message>
    <message>
        <source>iCloud storage is full</source>
        <translation>iCloud-Speicher ist voll</translation>
    </message>
</context>
<context>
    <name>KeyPairing</name>
    <message>
        <source>This key cannot be checked now: the cloud did not answer (%1). Try again.</source>
        <translation>Dieser Schlüssel lässt sich jetzt nicht prüfen: Die Cloud hat nicht geantwortet (%1). Versuchen Sie es erneut.</translation>
    </message>
    <message>
        <source>This key cannot be checked: the code waiting in your cloud is in a form this version of Zorvik cannot read. Update Zorvik, or pair with the code instead.</source>
        <translation>Dieser Schlüssel lässt sich nicht prüfen: Der Code in Ihrer Cloud hat ein Format, das diese Version von Zorvik nicht lesen kann. Aktualisieren Sie Zorvik oder koppeln Sie stattdessen mit dem Code.</translation>
    </message>
    <message>
        <source>This key does not open the code waiting in your cloud</source>
        <translation>Dieser Schlüssel öffnet den Code in Ihrer Cloud nicht</translation>
    </message>
    <message>
        <source>The keychain did not take the key.</source>
        <translation>Der Schlüsselbund hat den Schlüssel nicht angenommen.</translation>
    </message>
</context>
<context>
    <name>Notifier</name>
    <message>
        <source>Copy</source>
        <translation>Kopieren</translation>
    </message>
</context>
<context>
    <name>PairingView</name>
    <message>
        <source>Pair with iPhone</source>
        <translation>Mit iPhone koppeln</translation>
    </message>
    <message>
        <source>On your iPhone, open Zorvik, choose Pair with a computer and point the camera at this code. The key comes through iCloud.</source>
        <translation>Öffnen Sie Zorvik auf Ihrem iPhone, wählen Sie „Mit einem Computer koppeln“ und richten Sie die Kamera auf diesen Code. Der Schlüssel kommt über iCloud.</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>Enter the key instead</source>
        <translation>Schlüssel stattdessen eingeben</translation>
    </message>
    <message>
        <source>The key, as base64 or 64 hex digits</source>
        <translation>Der Schlüssel, als Base64 oder 64 Hexadezimalziffern</translation>
    </message>
    <message>
        <source>Save Key</source>
        <translation>Schlüssel sichern</translation>
    </message>
    <message>
        <source>The key from your iPhone is stored.</source>
        <translation>Der Schlüssel von Ihrem iPhone ist gespeichert.</translation>
    </message>
    <message>
        <source>Open for %1</source>
        <translation>Noch %1 offen</translation>
    </message>
</context>
<context>
    <name>PopoverFooter</name>
    <message>
        <source>Check now</source>
        <translation>Jetzt prüfen</translation>
    </message>
    <message>
        <source>Quit</source>
        <translation>Beenden</translation>
    </message>
</context>
<context>
    <name>PopoverSettingsSection</name>
    <message>
        <source>Copy codes to the clipboard for 90 s</source>
        <translation>Codes für 90 s in die Zwischenablage kopieren</translation>
    </message>
    <message>
        <source>Show the code in the panel</source>
        <translation>Code in der Leiste zeigen</translation>
    </message>
    <message>
        <source>Show a notification with a Copy button</source>
        <translation>Mitteilung mit Kopieren-Knopf zeigen</translation>
    </message>
    <message>
        <source>Launch at login</source>
        <translation>Bei der Anmeldung starten</translation>
    </message>
    <message>
        <source>Check iCloud every</source>
        <translation>iCloud prüfen alle</translation>
    </message>
    <message>
        <source>%1 s</source>
        <translation>%1 s</translation>
    </message>
    <message>
        <source>AutoFill Settings…</source>
        <translation>AutoFill-Einstellungen …</translation>
    </message>
    <message>
        <source>Diagnostics copied</source>
        <translation>Diagnose kopiert</translation>
    </message>
    <message>
        <source>Copy diagnostics</source>
        <translation>Diagnose kopieren</translation>
    </message>
    <message>
        <source>Show the code in the tray icon&apos;s tooltip</source>
        <translation>Code im Tooltip des Tray-Symbols zeigen</translation>
    </message>
</context>
<context>
    <name>PopoverView</name>
    <message>
        <source>for Linux</source>
        <translation>für Linux</translation>
    </message>
</context>
<context>
    <name>ReadinessMark</name>
    <message>
        <source>Needs setup</source>
        <translation>Einrichtung nötig</translation>
    </message>
    <message>
        <source>Ready</source>
        <translation>Bereit</translation>
    </message>
</context>
<context>
    <name>SetupChecklistView</name>
    <message>
        <source>Welcome — let&apos;s check this computer</source>
        <translation>Willkommen – prüfen wir diesen Computer</translation>
    </message>
    <message>
        <source>Setup</source>
        <translation>Einrichtung</translation>
    </message>
    <message>
        <source>Launch at login</source>
        <translation>Bei der Anmeldung starten</translation>
    </message>
    <message>
        <source>Re-check</source>
        <translation>Erneut prüfen</translation>
    </message>
    <message>
        <source>Show setup</source>
        <translation>Einrichtung zeigen</translation>
    </message>
    <message>
        <source>Hide setup</source>
        <translation>Einrichtung ausblenden</translation>
    </message>
    <message>
        <source>done</source>
        <translation>erledigt</translation>
    </message>
    <message>
        <source>needs attention</source>
        <translation>braucht Aufmerksamkeit</translation>
    </message>
    <message>
        <source>waiting</source>
        <translation>wartet</translation>
    </message>
    <message>
        <source>optional</source>
        <translation>optional</translation>
    </message>
</context>
<context>
    <name>SetupRow</name>
    <message>
        <source>Open iCloud settings</source>
        <translation>Einstellungen …</translation>
    </message>
    <message>
        <source>Sign in to iCloud…</source>
        <translation>Bei iCloud anmelden …</translation>
    </message>
    <message>
        <source>Codes come from your iPhone through iCloud on the web.</source>
        <translation>Codes kommen von Ihrem iPhone über iCloud im Web.</translation>
    </message>
    <message>
        <source>The sign-in page came back with this Apple Account. Use it only if it is the one on your iPhone; if you did not just sign in, choose Not mine.</source>
        <translation>Die Anmeldeseite kam mit diesem Apple Account zurück. Verwenden Sie ihn nur, wenn es der auf Ihrem iPhone ist; wenn Sie sich nicht gerade angemeldet haben, wählen Sie „Nicht meiner“.</translation>
    </message>
    <message>
        <source>Codes come only from zorvik-phone on this computer. Sign in to iCloud to receive your iPhone&apos;s.</source>
        <translation>Codes kommen nur von zorvik-phone auf diesem Computer. Melden Sie sich bei iCloud an, um die Ihres iPhones zu empfangen.</translation>
    </message>
    <message>
        <source>Codes come only from zorvik-phone on this computer.</source>
        <translation>Codes kommen nur von zorvik-phone auf diesem Computer.</translation>
    </message>
    <message>
        <source>Waiting for the key: pair with your iPhone. In Zorvik on the iPhone, scan the code this shows, and the key comes through iCloud.</source>
        <translation>Warten auf den Schlüssel: Koppeln Sie Ihr iPhone. Scannen Sie in Zorvik auf dem iPhone den hier gezeigten Code, dann kommt der Schlüssel über iCloud.</translation>
    </message>
    <message>
        <source>Pair with iPhone…</source>
        <translation>Koppeln …</translation>
    </message>
    <message>
        <source>The key from your iPhone is kept in your keyring (the Secret Service of GNOME Keyring or KWallet). Make sure it runs, or log out and back in; codes wait until it answers.</source>
        <translation>Der Schlüssel von Ihrem iPhone liegt in Ihrem Schlüsselbund (dem Secret Service von GNOME Keyring oder KWallet). Sorgen Sie dafür, dass er läuft, oder melden Sie sich ab und wieder an; Codes warten, bis er antwortet.</translation>
    </message>
    <message>
        <source>Your keyring is locked, so the key from your iPhone cannot be read and codes wait. Unlock it with your login password.</source>
        <translation>Ihr Schlüsselbund ist gesperrt, daher kann der Schlüssel von Ihrem iPhone nicht gelesen werden und Codes warten. Entsperren Sie ihn mit Ihrem Anmeldepasswort.</translation>
    </message>
    <message>
        <source>Codes still arrive by polling while the popover is open.</source>
        <translation>Solange das Fenster offen ist, kommen Codes weiter durch Abfragen an.</translation>
    </message>
    <message>
        <source>In your browser, the code is offered below the code field as From Zorvik.</source>
        <translation>In Ihrem Browser wird der Code unter dem Codefeld als „Von Zorvik“ angeboten.</translation>
    </message>
    <message>
        <source>Local cloud</source>
        <translation>Lokale Cloud</translation>
    </message>
    <message>
        <source>iCloud: use %1?</source>
        <translation>iCloud: %1 verwenden?</translation>
    </message>
    <message>
        <source>Use this account</source>
        <translation>Diesen Account verwenden</translation>
    </message>
    <message>
        <source>Not mine</source>
        <translation>Nicht meiner</translation>
    </message>
    <message>
        <source>checking…</source>
        <translation>wird geprüft …</translation>
    </message>
    <message>
        <source>iCloud: signed in as %1</source>
        <translation>iCloud: angemeldet als %1</translation>
    </message>
    <message>
        <source>iCloud: signed in</source>
        <translation>iCloud: angemeldet</translation>
    </message>
    <message>
        <source>Sign out</source>
        <translation>Abmelden</translation>
    </message>
    <message>
        <source>in use</source>
        <translation>in Gebrauch</translation>
    </message>
    <message>
        <source>not signed in</source>
        <translation>nicht angemeldet</translation>
    </message>
    <message>
        <source>Sign in with the same Apple Account as your iPhone.</source>
        <translation>Melden Sie sich mit demselben Apple Account an wie auf Ihrem iPhone.</translation>
    </message>
    <message>
        <source>Parental controls or a profile block iCloud for this app.</source>
        <translation>Jugendschutz oder ein Profil sperren iCloud für diese App.</translation>
    </message>
    <message>
        <source>temporarily unavailable</source>
        <translation>vorübergehend nicht verfügbar</translation>
    </message>
    <message>
        <source>Open the Apple Account settings and finish signing in.</source>
        <translation>Öffnen Sie die Apple-Account-Einstellungen und schließen Sie die Anmeldung ab.</translation>
    </message>
    <message>
        <source>Keyring: checking…</source>
        <translation>Schlüsselbund: wird geprüft …</translation>
    </message>
    <message>
        <source>Key received from your iPhone</source>
        <translation>Schlüssel von Ihrem iPhone erhalten</translation>
    </message>
    <message>
        <source>Keyring: waiting for the key</source>
        <translation>Schlüsselbund: wartet auf den Schlüssel</translation>
    </message>
    <message>
        <source>Keyring locked</source>
        <translation>Schlüsselbund gesperrt</translation>
    </message>
    <message>
        <source>Unlock</source>
        <translation>Entsperren</translation>
    </message>
    <message>
        <source>Keyring: </source>
        <translation>Schlüsselbund: </translation>
    </message>
    <message>
        <source>Registering…</source>
        <translation>Wird registriert …</translation>
    </message>
    <message>
        <source>Push: </source>
        <translation>Push: </translation>
    </message>
    <message>
        <source>registration failed</source>
        <translation>Registrierung fehlgeschlagen</translation>
    </message>
    <message>
        <source>Listening for codes</source>
        <translation>Wartet auf Codes</translation>
    </message>
    <message>
        <source>Subscription: </source>
        <translation>Abonnement: </translation>
    </message>
    <message>
        <source>could not be saved</source>
        <translation>konnte nicht gesichert werden</translation>
    </message>
    <message>
        <source>AutoFill: checking…</source>
        <translation>AutoFill: wird geprüft …</translation>
    </message>
    <message>
        <source>AutoFill: on</source>
        <translation>AutoFill: ein</translation>
    </message>
    <message>
        <source>AutoFill: off</source>
        <translation>AutoFill: aus</translation>
    </message>
    <message>
        <source>Turn on AutoFill</source>
        <translation>Einschalten</translation>
    </message>
    <message>
        <source>Notifications: checking…</source>
        <translation>Mitteilungen: wird geprüft …</translation>
    </message>
    <message>
        <source>Notifications: not asked yet</source>
        <translation>Mitteilungen: noch nicht gefragt</translation>
    </message>
    <message>
        <source>Notifications: allowed</source>
        <translation>Mitteilungen: erlaubt</translation>
    </message>
    <message>
        <source>Notifications: off</source>
        <translation>Mitteilungen: aus</translation>
    </message>
    <message>
        <source>Allow Zorvik so a banner shows each code with a Copy button.</source>
        <translation>Erlauben Sie Zorvik, jeden Code als Banner mit Kopieren-Knopf zu zeigen.</translation>
    </message>
    <message>
        <source>Open Notification settings</source>
        <translation>Einstellungen …</translation>
    </message>
    <message>
        <source>Notifications: no notification service is running on this desktop</source>
        <translation>Mitteilungen: Auf diesem Desktop läuft kein Mitteilungsdienst</translation>
    </message>
    <message>
        <source>Codes still reach the clipboard and this panel. Start your desktop&apos;s notification service (or one such as dunst) to see each code as a banner with a Copy button.</source>
        <translation>Codes erreichen weiterhin die Zwischenablage und dieses Fenster. Starten Sie den Mitteilungsdienst Ihres Desktops (oder einen wie dunst), um jeden Code als Banner mit Kopieren-Knopf zu sehen.</translation>
    </message>
    <message>
        <source>Launch at login: on</source>
        <translation>Bei der Anmeldung starten: ein</translation>
    </message>
    <message>
        <source>Launch at login: off</source>
        <translation>Bei der Anmeldung starten: aus</translation>
    </message>
    <message>
        <source>Waiting for your first code — tap any account in Zorvik on your iPhone</source>
        <translation>Warten auf Ihren ersten Code – tippen Sie in Zorvik auf Ihrem iPhone auf einen Account</translation>
    </message>
    <message>
        <source>Received %1 at %2</source>
        <translation>%1 erhalten um %2</translation>
    </message>
    <message>
        <source>a code</source>
        <translation>Ein Code</translation>
    </message>
    <message>
        <source>1 minute</source>
        <translation>1 Minute</translation>
    </message>
    <message>
        <source>%1 minutes</source>
        <translation>%1 Minuten</translation>
    </message>
    <message>
        <source>1 hour</source>
        <translation>1 Stunde</translation>
    </message>
    <message>
        <source>%1 hours</source>
        <translation>%1 Stunden</translation>
    </message>
    <message>
        <source>1 day</source>
        <translation>1 Tag</translation>
    </message>
    <message>
        <source>%1 days</source>
        <translation>%1 Tage</translation>
    </message>
    <message>
        <source>set it automatically in the system&apos;s date and time settings, or with &quot;timedatectl set-ntp true&quot;</source>
        <translation>stellen Sie sie in den Datums- und Zeiteinstellungen des Systems auf automatisch oder mit „timedatectl set-ntp true“</translation>
    </message>
    <message>
        <source>This computer&apos;s clock is about %1 ahead of your iPhone&apos;s, so codes arrive expired: %2</source>
        <translation>Die Uhr dieses Computers geht etwa %1 vor gegenüber Ihrem iPhone, daher kommen Codes abgelaufen an: %2</translation>
    </message>
    <message>
        <source>This computer&apos;s clock is about %1 behind your iPhone&apos;s: %2</source>
        <translation>Die Uhr dieses Computers geht etwa %1 nach gegenüber Ihrem iPhone: %2</translation>
    </message>
    <message>
        <source>1 item to check</source>
        <translation>1 Punkt zu prüfen</translation>
    </message>
    <message>
        <source>%1 items to check</source>
        <translation>%1 Punkte zu prüfen</translation>
    </message>
    <message>
        <source>ready, waiting for your first code</source>
        <translation>bereit, wartet auf Ihren ersten Code</translation>
    </message>
    <message>
        <source>all good</source>
        <translation>alles in Ordnung</translation>
    </message>
</context>
<context>
    <name>SyncKeyText</name>
    <message>
        <source>A sync key is 32 bytes, written as base64 or as 64 hexadecimal digits.</source>
        <translation>Ein Sync-Schlüssel hat 32 Bytes, geschrieben als Base64 oder als 64 Hexadezimalziffern.</translation>
    </message>
    <message>
        <source>This is %1 hexadecimal digits; a sync key is 64 of them, or 32 bytes of base64.</source>
        <translation>Das sind %1 Hexadezimalziffern; ein Sync-Schlüssel hat 64 davon oder 32 Bytes in Base64.</translation>
    </message>
    <message>
        <source>This is %1 bytes of base64; a sync key is 32 bytes.</source>
        <translation>Das sind %1 Bytes in Base64; ein Sync-Schlüssel hat 32 Bytes.</translation>
    </message>
</context>
</TS>
