<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1">
<context>
    <name>AppDelegate</name>
    <message>
        <source>Zorvik — codes from your iPhone</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>AutoFillPanel</name>
    <message>
        <source>It will appear here within a few seconds.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The last code expired. Tap it again.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>From Zorvik</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Zorvik is ready to fill codes in your browser.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Tap a code on your iPhone or Apple Watch; within seconds your browser offers it below the code field as From Zorvik. Nothing is stored on this computer beyond the last code, and it dies after 90 seconds.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Done</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>different site</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Fill</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Tap a code on your iPhone or Watch</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Refresh</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>from %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>expires in %1 s</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>CloudSyncCrypto</name>
    <message>
        <source>the sync key is not in the keyring yet: pair with your phone</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>CodeArea</name>
    <message>
        <source>Tap a code on your iPhone or Watch</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>It shows up here for 90 seconds, goes on the clipboard, and your browser offers it as From Zorvik.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>from %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>expires in %1 s</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>expired</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Copied</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Copy</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1: %2, from %3</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>New code for %1: %2</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>ErrorText</name>
    <message>
        <source>no network</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>iCloud is busy; will retry</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>not signed in to iCloud</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>iCloud refused (permission)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>iCloud schema: </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>iCloud storage is full</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>KeyPairing</name>
    <message>
        <source>This key cannot be checked now: the cloud did not answer (%1). Try again.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>This key cannot be checked: the code waiting in your cloud is in a form this version of Zorvik cannot read. Update Zorvik, or pair with the code instead.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>This key does not open the code waiting in your cloud</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The keychain did not take the key.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>Notifier</name>
    <message>
        <source>Copy</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>PairingView</name>
    <message>
        <source>Pair with iPhone</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>On your iPhone, open Zorvik, choose Pair with a computer and point the camera at this code. The key comes through iCloud.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Enter the key instead</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The key, as base64 or 64 hex digits</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Save Key</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The key from your iPhone is stored.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Open for %1</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>PopoverFooter</name>
    <message>
        <source>Check now</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Quit</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>PopoverSettingsSection</name>
    <message>
        <source>Copy codes to the clipboard for 90 s</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Show the code in the panel</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Show a notification with a Copy button</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Launch at login</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Check iCloud every</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 s</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>AutoFill Settings…</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Diagnostics copied</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Copy diagnostics</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Show the code in the tray icon&apos;s tooltip</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>PopoverView</name>
    <message>
        <source>for Linux</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>ReadinessMark</name>
    <message>
        <source>Needs setup</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Ready</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>SetupChecklistView</name>
    <message>
        <source>Welcome — let&apos;s check this computer</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Setup</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Launch at login</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Re-check</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Show setup</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Hide setup</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>done</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>needs attention</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>waiting</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>optional</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>SetupRow</name>
    <message>
        <source>Open iCloud settings</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Sign in to iCloud…</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Codes come from your iPhone through iCloud on the web.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The sign-in page came back with this Apple Account. Use it only if it is the one on your iPhone; if you did not just sign in, choose Not mine.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Codes come only from zorvik-phone on this computer. Sign in to iCloud to receive your iPhone&apos;s.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Codes come only from zorvik-phone on this computer.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Waiting for the key: pair with your iPhone. In Zorvik on the iPhone, scan the code this shows, and the key comes through iCloud.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Pair with iPhone…</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The key from your iPhone is kept in your keyring (the Secret Service of GNOME Keyring or KWallet). Make sure it runs, or log out and back in; codes wait until it answers.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Your keyring is locked, so the key from your iPhone cannot be read and codes wait. Unlock it with your login password.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Codes still arrive by polling while the popover is open.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>In your browser, the code is offered below the code field as From Zorvik.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Local cloud</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>iCloud: use %1?</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Use this account</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Not mine</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>checking…</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>iCloud: signed in as %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>iCloud: signed in</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Sign out</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>in use</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>not signed in</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Sign in with the same Apple Account as your iPhone.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Parental controls or a profile block iCloud for this app.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>temporarily unavailable</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Open the Apple Account settings and finish signing in.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Keyring: checking…</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Key received from your iPhone</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Keyring: waiting for the key</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Keyring locked</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Unlock</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Keyring: </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Registering…</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Push: </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>registration failed</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Listening for codes</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Subscription: </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>could not be saved</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>AutoFill: checking…</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>AutoFill: on</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>AutoFill: off</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Turn on AutoFill</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Notifications: checking…</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Notifications: not asked yet</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Notifications: allowed</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Notifications: off</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Allow Zorvik so a banner shows each code with a Copy button.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Open Notification settings</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Notifications: no notification service is running on this desktop</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Codes still reach the clipboard and this panel. Start your desktop&apos;s notification service (or one such as dunst) to see each code as a banner with a Copy button.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Launch at login: on</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Launch at login: off</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Waiting for your first code — tap any account in Zorvik on your iPhone</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Received %1 at %2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>a code</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>1 minute</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 minutes</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>1 hour</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 hours</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>1 day</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 days</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>set it automatically in the system&apos;s date and time settings, or with &quot;timedatectl set-ntp true&quot;</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>This computer&apos;s clock is about %1 ahead of your iPhone&apos;s, so codes arrive expired: %2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>This computer&apos;s clock is about %1 behind your iPhone&apos;s: %2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>1 item to check</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 items to check</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>ready, waiting for your first code</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>all good</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>SyncKeyText</name>
    <message>
        <source>A sync key is 32 bytes, written as base64 or as 64 hexadecimal digits.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>This is %1 hexadecimal digits; a sync key is 64 of them, or 32 bytes of base64.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>This is %1 bytes of base64; a sync key is 32 bytes.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
</TS>
