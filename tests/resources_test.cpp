// The compiled resources against the program's catalogue and layouts: every
// message in every language byte for byte, every dialog template with the
// style words the dialog manager will see, the icon, and the choice of
// language by the user's locale.
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/host/text/codepage.h"
#include "platform/host/text/dialog_template.h"
#include "platform/win.h"
#include "res/resource.h"

namespace {

constexpr WORD kEnglish = 1033, kFrench = 1036, kJapanese = 1041;
constexpr WORD kLanguages[] = {kEnglish, kFrench, kJapanese};

// --- Messages --------------------------------------------------------------

struct Message {
    UINT id;
    const char *english, *french, *japanese;

    const char *In(WORD language) const {
        return language == kFrench ? french : language == kJapanese ? japanese : english;
    }
};

// IDs 101 to 135 in order, without gaps. Mind the double spaces between
// English sentences and the trailing space of French 105, 111 and 114.
const Message kMessages[] = {
    {IDS_ABOUT_MENU,
     "&About update...",
     "&A propos de la mise à jour...",
     "&アップデートについて"},
    {IDS_DLL_MISSING,
     "Required DLL files cannot be found.  Install the update program again.",
     "Les fichiers DLL nécessaires sont introuvables. Réinstallez le programme de mise à jour.",
     "必要なDLLファイルが見つかりません。アップデート・プログラムをもう一度インストールしてください。"},
    {IDS_DISK_READ_FAILED,
     "The update program cannot read the hard disk drive at this time.  Run the update program again at a later time.",
     "Le programme de mise à jour ne peut pas le disque dur. Exécutez le programme de mise à jour ultérieurement.",
     "アップデート・プログラムはハード・ディスクを読み込めませんでした。後でもう一度アップデート・プログラムを実行してください。"},
    {IDS_NO_SERVICE_PARTITION,
     "The ZAV service partition was not found on your system.  You do not need to run this update program.",
     "La partition de service ZAV est introuvable sur votre système. Vous n'avez pas besoin d'exécuter ce programme de mise à jour.",
     "システムに ZAV サービス区画が見つかりませんでした。このアップデートプログラムを実行する必要はありません。"},
    {IDS_DRIVE_NOT_DETECTED,
     "The update program cannot detect the drive in your system.",
     "Le programme de mise à jour ne trouve pas l'unité dans votre système. ",
     "アップデート・プログラムはシステムのドライブを検出できませんでした。"},
    {IDS_PARTITION_UPDATE_FAILED,
     "The update program cannot update your partition table.",
     "Le programme de mise à jour ne peut pas mettre votre table de partition à jour.",
     "アップデート・プログラムは区画テーブルを更新できませんでした。"},
    {IDS_PARTITION_TABLE_CORRUPT,
     "The update program detected a corrupted partition table on your system.",
     "Le programme de mise à jour a détecté une table de partition endommagée dans votre système.",
     "アップデート・プログラムはシステムに不正な区画を検出しました。"},
    {IDS_INSTALL_OK,
     "Installation completed successfully.",
     "La mise à jour a abouti.",
     "アップデートは正常に完了しました。"},
    {IDS_VERSION_NOT_DETECTED,
     "Internal error: failed to detect Windows version.",
     "Erreur interne : détection de la version de Windows impossible.",
     "内部エラー: Windows のバージョンを検出できませんでした。"},
    {IDS_PARAMETER_MISSING,
     "Internal error: required parameter not present.  Install the update program again.",
     "Erreur interne : paramètre obligatoire absent. Réinstallez le programme de mise à jour.",
     "内部エラー: 要求されたパラメーターは存在しません。アップデート・プログラムをもう一度インストールしてください。"},
    {IDS_SERVICE_CONTENTS_UNEXPECTED,
     "Update not performed because of unexpected service partition contents.",
     "Mise à jour non effectuée en raison de contenus de partition de service inattendus. ",
     "予期せぬサービス区画の内容により、アップデートは実行されませんでした。"},
    {IDS_REGISTRY_ACCESS_FAILED,
     "The update program cannot access Windows Registry.",
     "Le programme de mise à jour n'a pas accès à la base de registres de Windows.",
     "アップデート・プログラムは Windows のレジストリーにアクセスできません。"},
    {IDS_REGISTRY_KEYS_NOT_DELETED,
     "The update program cannot delete some registry keys.",
     "Le programme de mise à jour ne peut pas effacer certaines clés de la base de registre.",
     "アップデート・プログラムはいくつかのレジストリー・キーを削除できません。"},
    {IDS_FILES_NOT_DELETED,
     "The update program cannot delete some files.",
     "Le programme de mise à jour ne peut pas effacer certains fichiers. ",
     "アップデート・プログラムはいくつかのファイルを削除できません。"},
    {IDS_FOLDERS_NOT_REMOVED,
     "The update program cannot remove some folders.",
     "Le programme de mise à jour ne peut pas supprimer certains répertoires.",
     "アップデート・プログラムはいくつかのフォルダを削除できません。"},
    {IDS_FILES_NOT_REPLACED,
     "The update program cannot replace 16-bit program files.",
     "Le programme de mise à jour ne peut pas remplacer des fichiers programme 16-bits.",
     "アップデート・プログラムは16ビットのプログラム・ファイルを更新できません。"},
    {IDS_INSTALL_UNSUCCESSFUL,
     "The installation of the updated version of the ZAV backup and restore program was not successful.",
     "L'installation de la version mise à jour du programme de sauvegarde et de restauration ZAV a échoué.",
     "ZAV backup and restore program アップデート版のインストールは失敗しました。"},
    {IDS_INSTALL_NOT_POSSIBLE,
     "The updated version of the ZAV backup and restore program cannot be installed.",
     "La version mise à jour du programme de sauvegarde et de restauration ZAV ne peut pas être installée.",
     "ZAV backup and restore program アップデート版はインストールされません。"},
    {IDS_INSTALL_INCOMPLETE,
     "The installation of the updated version of the ZAV backup and restore program cannot complete.",
     "L'installation de la version mise à jour du programme de sauvegarde et de restauration ZAV ne peut pas se terminer.",
     "ZAV backup and restore program アップデート版のインストールは完了していません。"},
    {IDS_RUNONCE_FAILED,
     "The update program cannot add an entry to the RUNONCE registry key.",
     "Le programme de mise à jour ne peut pas ajouter une entrée à la clé de registre RUNONCE.",
     "アップデート・プログラムは RUNONCE レジストリー・キーを追加できません。"},
    {IDS_START_MENU_NOT_CLEANED,
     "The update program cannot remove ZAV backup and restore from the Start menu.",
     "Le programme de mise à jour ne peut pas retirer le programme de sauvegarde et de restauration ZAV du menu Démarrer.",
     "アップデート・プログラムは ZAV backup and restore をスタートメニューから削除することができません。"},
    {IDS_INSTALLER_NOT_FOUND,
     "The update program cannot find the specified installation program.",
     "Le programme de mise à jour ne peut pas trouver le programme d'installation indiqué.",
     "アップデート・プログラムはインストール・プログラムのスペックを見つけられません。"},
    {IDS_OLD_VERSION_ABSENT,
     "Version 1.0 is not installed.",
     "La version 1.0 n'est pas installée.",
     "バージョン 1.0 はインストールされていません。"},
    {IDS_MAKER_KEY_NOT_DELETED,
     "The update program cannot delete the Keldan key in the registry.",
     "Le programme de mise à jour ne peut pas effacer la clé de registre Keldan.",
     "アップデート・プログラムはレジストリの Keldan キーを削除できません。"},
    {IDS_FAILED_BECAUSE,
     "The update program failed because of the following:",
     "L'exécution du programme de mise à jour a échoué pour l'une des raisons suivantes :",
     "アップデート・プログラムは次の理由により失敗しました:"},
    {IDS_NEWER_VERSION_INSTALLED,
     "The version of the ZAV backup and restore program currently installed on your system is more recent than the version included in this update program.",
     "La version du programme de sauvegarde et de mise à jour ZAV installée sur votre système est plus récente que la version dans ce programme d'installation",
     "システムにすでにインストールされている ZAV backup and restore program は、アップデート・プログラムに含まれているものより新しいバージョンです。"},
    {IDS_USER_CANCELLED,
     "User cancelled.",
     "Annulation par l'utilisateur.",
     "ユーザーによりキャンセルされました。"},
    {IDS_DOS_FILES_MISSING,
     "Required DOS files are not accessible.",
     "Les fichiers DOS obligatoires ne sont pas accessibles.",
     "要求されたDOSファイルはアクセスできません。"},
    {IDS_FORMAT_FAILED,
     "Unable to format diskette.",
     "Formatage de la disquette impossible.",
     "ディスケットのフォーマットができません。"},
    {IDS_THREAD_FAILED,
     "This program cannot start a new thread.",
     "Ce programme ne peut pas lancer une nouvelle unité d'exécution.",
     "このプログラムは新しいスレッドをスタートできません。"},
    {IDS_FLOPPY_IN_USE,
     "Other programs are currently using the floppy drive.",
     "D'autres programmes utilisent l'unité de disquette.",
     "現在他のプログラムがフロッピー・ドライブを使用中です。"},
    {IDS_FLOPPY_WRITE_PROTECTED,
     "The floppy is write protected.",
     "La disquette est protégée en écriture.",
     "フロッピーは書き込み保護されています。"},
    {IDS_NO_DISKETTE,
     "There is no diskette in the drive.",
     "Il n'y a pas de disquette dans l'unité.",
     "ドライブにディスケットがありません。"},
    {IDS_DISKETTE_UNUSABLE,
     "The diskette is not usable.",
     "La disquette est inutilisable.",
     "このディスケットは使用できません。"},
    {IDS_RESTART_FROM_FLOPPY,
     "Leave the startup diskette in A: and click OK to restart your system from the floppy drive.",
     "Laissez la disquette de démarrage dans l'unité A:, puis cliquez sur OK pour redémarrer le système à partir de l'unité de disquette.",
     "システムをフロッピー・ドライブから再起動するために、スタートアップ・ディスケットを A: ドライブに入れたままOKボタンをクリックしてください。"},
};

// Reads string `id` in `language` straight from its bundle, without the
// locale or code-page conversion that LoadStringA applies: nullopt when the
// bundle is missing, "" when the entry is empty.
std::optional<std::string> StoredString(UINT id, WORD language) {
    HRSRC found = FindResourceExA(nullptr, RT_STRING, MAKEINTRESOURCEA(id / 16 + 1), language);
    if (found == nullptr) return std::nullopt;
    const auto *data = static_cast<const BYTE *>(LockResource(LoadResource(nullptr, found)));
    size_t size = SizeofResource(nullptr, found), pos = 0;
    auto word = [&](size_t at) { return static_cast<char16_t>(data[at] | (data[at + 1] << 8)); };
    for (UINT i = 0; i <= id % 16; ++i) {
        if (pos + 2 > size) return std::nullopt;
        size_t length = word(pos);
        if (pos + 2 + 2 * length > size) return std::nullopt;
        if (i == id % 16) {
            std::u16string text;
            for (size_t k = 0; k < length; ++k) text += word(pos + 2 + 2 * k);
            return host::Utf16ToUtf8(text);
        }
        pos += 2 + 2 * length;
    }
    return std::nullopt;
}

TEST(ResourceMessages, EveryIdHasItsExactTextInEveryLanguage) {
    ASSERT_EQ(std::size(kMessages), 35u);
    for (size_t i = 0; i < std::size(kMessages); ++i) ASSERT_EQ(kMessages[i].id, 101 + i);
    for (WORD language : kLanguages) {
        for (const Message &m : kMessages) {
            SCOPED_TRACE(testing::Message() << "string " << m.id << ", language " << language);
            std::optional<std::string> text = StoredString(m.id, language);
            ASSERT_TRUE(text.has_value());
            EXPECT_EQ(*text, m.In(language));
            // The program loads messages into 1000 bytes with room for 999.
            EXPECT_LE(text->size(), 998u);
        }
    }
}

TEST(ResourceMessages, NothingOutsideTheCatalogue) {
    // The bundles holding 101 and 135 also hold 96-100 and 136-143.
    for (WORD language : kLanguages) {
        for (UINT id : {96u, 99u, 100u, 136u, 140u, 143u}) {
            EXPECT_EQ(StoredString(id, language).value_or(""), "") << id << ", language " << language;
        }
    }
}

// --- Dialog templates ------------------------------------------------------

// Popup, caption, system menu, modal frame and DS_SETFONT (windres adds
// WS_CAPTION for CAPTION and DS_SETFONT for FONT); kShown adds WS_VISIBLE.
constexpr DWORD kHidden = 0x80C800C0, kShown = 0x90C800C0;

enum Kind { kDefButton, kDefButtonGroup, kButton, kText, kTextNoPrefix, kIcon };

struct KindStyle {
    const char *className;
    DWORD style;
};

// All children are WS_CHILD | WS_VISIBLE; buttons are tab stops, texts are
// left-aligned group starts.
KindStyle StyleOf(Kind kind) {
    switch (kind) {
        case kDefButton: return {"BUTTON", 0x50010001};
        case kDefButtonGroup: return {"BUTTON", 0x50030001};
        case kButton: return {"BUTTON", 0x50010000};
        case kText: return {"STATIC", 0x50020000};
        case kTextNoPrefix: return {"STATIC", 0x50020080};
        case kIcon: return {"STATIC", 0x50000003};
    }
    return {"", 0};
}

struct Control {
    int id;
    Kind kind;
    short x, y, cx, cy;
    const char *text;  // nullptr for the icon, whose title is icon 128
};

struct Dialog {
    int id;
    WORD language;
    DWORD style, exStyle;
    short cx, cy;
    const char *caption;
    std::vector<Control> controls;
};

const char kCaptionEn[] = "ZAV backup and restore program update";
const char kCaptionFr[] = "Mise à jour du programme de sauvegarde et de restauration ZAV";
const char kCaptionJa[] = "ZAV backup and restore program アップデート";

const std::vector<Dialog> kDialogs = {
    {IDD_ABOUT, kEnglish, kHidden, 0, 235, 55, "About update",
     {{IDC_STATIC, kIcon, 11, 17, 20, 20, nullptr},
      {IDC_STATIC, kTextNoPrefix, 40, 10, 119, 8, "update Version 1.0"},
      {IDC_STATIC, kText, 40, 25, 119, 8, "(C) 2001 ZAV update team"},
      {IDOK, kDefButtonGroup, 178, 7, 50, 14, "OK"}}},
    {IDD_ABOUT, kFrench, kHidden, 0, 235, 55, "A propos de la mise à jour",
     {{IDC_STATIC, kIcon, 11, 17, 20, 20, nullptr},
      {IDC_STATIC, kTextNoPrefix, 40, 10, 84, 8, "Mise à jour de la version 1.0"},
      {IDC_STATIC, kText, 40, 25, 55, 8, "(C) 2001"},
      {IDOK, kDefButtonGroup, 178, 7, 50, 14, "OK"}}},
    {IDD_ABOUT, kJapanese, kHidden, 0, 235, 55, "About update",
     {{IDC_STATIC, kIcon, 11, 17, 20, 20, nullptr},
      {IDC_STATIC, kTextNoPrefix, 40, 10, 119, 8, "update Version 1.0"},
      {IDC_STATIC, kText, 40, 25, 119, 8, "(C) 2001 ZAV update team"},
      {IDOK, kDefButtonGroup, 178, 7, 50, 14, "OK"}}},
    {IDD_WELCOME, kEnglish, kShown, WS_EX_APPWINDOW, 293, 119, kCaptionEn,
     {{IDOK, kDefButton, 88, 98, 50, 14, "OK"},
      {IDCANCEL, kButton, 153, 98, 50, 14, "Cancel"},
      {IDC_STATIC, kText, 7, 7, 279, 17, "This program will install the ZAV backup and restore program version 1.1 or update an existing version."},
      {IDC_STATIC, kText, 7, 28, 279, 20, "Exit all other applications and click OK to start the update, or click Cancel to exit."},
      {IDC_STATIC, kText, 7, 66, 276, 29, "Note for Windows 2000 users: If the \"System Setting Change\" message displays, click \"No\" keep your system from restarting.  The \"System Setting Change\" message asks if you want to restart the system to install new devices."}}},
    {IDD_WELCOME, kFrench, kShown, WS_EX_APPWINDOW, 293, 143, kCaptionFr,
     {{IDOK, kDefButton, 88, 119, 50, 14, "OK"},
      {IDCANCEL, kButton, 154, 119, 50, 14, "Annuler"},
      {IDC_STATIC, kText, 7, 7, 279, 26, "Ce programme va mettre à jour votre programme de sauvegarde et de restauration ZAV à la version 1.1. Cette mise à jour prend moins de cinq minutes. Votre système peut redémarrer jusqu'à trois fois lors de ce processus."},
      {IDC_STATIC, kText, 7, 36, 279, 19, "Quittez toutes les autre applications puis cliquez sur OK pour commencer la mise à jour, ou sur Annuler pour quitter."},
      {IDC_STATIC, kText, 7, 59, 279, 25, "Remarque pour les utilisateurs de Windows 2000 : Si le message \"Changement des paramètres système\" s'affiche, cliquez sur \"Non\" pour empêcher votre système de redémarrer."},
      {IDC_STATIC, kText, 7, 88, 279, 17, "Ce message  vous demande si vous voulez redémarrer le système afin d'installer de nouveaux périphériques."}}},
    {IDD_WELCOME, kJapanese, kShown, WS_EX_APPWINDOW, 293, 144, kCaptionJa,
     {{IDOK, kDefButton, 88, 123, 50, 14, "OK"},
      {IDCANCEL, kButton, 153, 123, 50, 14, "キャンセル"},
      {IDC_STATIC, kText, 7, 7, 279, 34, "このプログラムは ZAV backup and restore program をバージョン1.1にアップデートします。アップデートには５分程度かかり、その間にシステムを３回再起動します。"},
      {IDC_STATIC, kText, 7, 48, 279, 20, "アップデートをするならば、すべてのアプリケーションを終了させ、OKボタンをクリックしてください。終了するにはキャンセルボタンをクリックしてください。"},
      {IDC_STATIC, kText, 7, 81, 276, 38, "Windows 2000 を使用している方への注意: ”システム設定の変更”のメッセージが出たら、再起動”しない”をクリックしてください。”システム設定の変更”メッセージは新しいデバイスをインストールするためにシステムを再起動するかを尋ねてきます。"}}},
    {IDD_PHASE_TWO, kEnglish, kShown, 0, 248, 85, "ZAV backup and restore program update - second phase",
     {{IDC_STEP_1, kText, 46, 6, 155, 8, "Remove files from older version"},
      {IDC_STEP_2, kText, 46, 19, 155, 8, "Remove Control Panel Add/Remove information"},
      {IDC_STEP_3, kText, 46, 31, 155, 8, "Delete old registry entries"},
      {IDC_STEP_4, kText, 46, 43, 155, 8, "Install new version"},
      {IDC_STEP_5, kText, 46, 55, 155, 8, "Replace files in ZAV product recovery partition"},
      {IDC_STEP_DONE, kText, 46, 67, 155, 8, "Done"}}},
    {IDD_PHASE_TWO, kFrench, kShown, 0, 341, 85, "Mise à jour du programme de sauvegarde et de restauration ZAV - deuxième phase",
     {{IDC_STEP_1, kText, 17, 4, 155, 8, "Retrait des fichiers de l'ancienne version"},
      {IDC_STEP_2, kText, 17, 16, 242, 17, "Retrait des informations de l'option Ajout/Suppression de programmes du Panneau de configuration"},
      {IDC_STEP_3, kText, 17, 36, 155, 8, "Effacement des anciennes entrées de registre"},
      {IDC_STEP_4, kText, 17, 48, 155, 8, "Installation de la nouvelle version"},
      {IDC_STEP_5, kText, 17, 60, 231, 8, "Remplacement des fichiers dans la partition de récupération des produits ZAV"},
      {IDC_STEP_DONE, kText, 17, 73, 155, 8, "Terminé"}}},
    {IDD_PHASE_TWO, kJapanese, kShown, 0, 248, 85, "ZAV backup and restore program アップデート - 第２段階",
     {{IDC_STEP_1, kText, 26, 6, 197, 8, "古いバージョンのファイルの削除"},
      {IDC_STEP_2, kText, 26, 19, 197, 8, "コントロールパネルの追加/削除情報の削除"},
      {IDC_STEP_3, kText, 26, 31, 197, 8, "古いレジストリ登録の削除"},
      {IDC_STEP_4, kText, 26, 43, 197, 8, "新しいバージョンのインストール"},
      {IDC_STEP_5, kText, 26, 55, 197, 8, "ZAV プロダクトリカバリー区画のファイルの更新"},
      {IDC_STEP_DONE, kText, 26, 67, 197, 8, "完了"}}},
    {IDD_FAILURE, kEnglish, kHidden, 0, 277, 109, kCaptionEn,
     {{IDOK, kDefButton, 108, 88, 50, 14, "OK"},
      {IDC_STATIC, kText, 7, 6, 263, 8, "This program failed because of the following:"},
      {IDC_FAILURE_TEXT, kText, 7, 22, 263, 31, ""},
      {IDC_RESTART_NOTE, kText, 7, 60, 263, 8, "Your system will restart when you click OK"}}},
    {IDD_FAILURE, kFrench, kHidden, 0, 277, 109, kCaptionFr,
     {{IDOK, kDefButton, 113, 88, 50, 14, "OK"},
      {IDC_STATIC, kText, 7, 6, 210, 8, "L'exécution du programme a échoué pour l'une des raisons suivantes :"},
      {IDC_FAILURE_TEXT, kText, 7, 22, 263, 31, ""},
      {IDC_RESTART_NOTE, kText, 7, 60, 178, 8, "Le système va redémarrer lorsque vous aurez cliqué sur OK"}}},
    {IDD_FAILURE, kJapanese, kHidden, 0, 277, 109, kCaptionJa,
     {{IDOK, kDefButton, 108, 88, 50, 14, "OK"},
      {IDC_STATIC, kText, 7, 6, 263, 8, "このプログラムは次の理由により失敗しました:"},
      {IDC_FAILURE_TEXT, kText, 7, 22, 263, 31, ""},
      {IDC_RESTART_NOTE, kText, 7, 60, 263, 8, "OKボタンをクリックすると再起動します"}}},
    {IDD_SUCCESS, kEnglish, kHidden, 0, 217, 71, kCaptionEn,
     {{IDOK, kDefButton, 83, 50, 50, 14, "OK"},
      {IDC_STATIC, kText, 7, 7, 203, 12, "Installation completed sucessfully."},
      {IDC_COMPLETION_NOTE, kText, 7, 26, 203, 19, "Click OK to restart your system."}}},
    {IDD_SUCCESS, kFrench, kHidden, 0, 271, 71, kCaptionFr,
     {{IDOK, kDefButton, 110, 50, 50, 14, "OK"},
      {IDC_STATIC, kText, 7, 7, 203, 12, "La mise à jour a abouti."},
      {IDC_COMPLETION_NOTE, kText, 7, 26, 203, 19, "Cliquez sur OK pour redémarrer le système"}}},
    {IDD_SUCCESS, kJapanese, kHidden, 0, 217, 100, kCaptionJa,
     {{IDOK, kDefButton, 83, 79, 50, 14, "OK"},
      {IDC_STATIC, kText, 7, 7, 203, 19, "アップデートは正常に完了しました。"},
      {IDC_COMPLETION_NOTE, kText, 7, 33, 203, 42, "システムを再起動するにはOKボタンをクリックしてください。"}}},
    {IDD_DISKETTE, kEnglish, kHidden, 0, 292, 81, "Creating startup diskette",
     {{IDOK, kDefButton, 88, 60, 50, 14, "OK"},
      {IDCANCEL, kButton, 153, 60, 50, 14, "Cancel"},
      {IDC_STATIC, kText, 7, 7, 278, 18, "This program is going to make a startup diskette now.  After the startup diskette is made your system will start from the diskette to finalize the update process."},
      {IDC_STATIC, kText, 7, 30, 278, 20, "Insert a blank diskette into drive A and click OK to continue. All content on the diskette will be overwritten."}}},
    {IDD_DISKETTE, kFrench, kHidden, 0, 292, 81, "Création de la disquette de démarrage",
     {{IDOK, kDefButton, 88, 60, 50, 14, "OK"},
      {IDCANCEL, kButton, 153, 60, 50, 14, "Annuler"},
      {IDC_STATIC, kText, 7, 7, 278, 25, "Le programme va maintenant créer une disquette de démarrage.  Une fois cette dernière créée, le système va démarrer à partir de la disquette afin de terminer le processus de mise à jour."},
      {IDC_STATIC, kText, 7, 34, 278, 20, "Insérez une disquette vierge dans l'unité A, puis cliquez sur OK pour continuer. Toutes les données de la disquette seront effacées."}}},
    {IDD_DISKETTE, kJapanese, kHidden, 0, 292, 102, "スタートアップ・ディスケットの作成",
     {{IDOK, kDefButton, 88, 81, 50, 14, "OK"},
      {IDCANCEL, kButton, 153, 81, 50, 14, "キャンセル"},
      {IDC_STATIC, kText, 7, 7, 278, 37, "このプログラムはスタートアップ・ディスケットを作成します。アップデートを終えるために、スタートアップ・ディスケットの作成後にシステムをディスケットから再起動します。"},
      {IDC_STATIC, kText, 7, 50, 278, 28, "続行するためには、Aドライブに空のディスケットを入れてOKをクリックしてください。ディスケットの内容はすべて上書きされます。"}}},
    {IDD_DISKETTE_WAIT, kEnglish, kShown, 0, 186, 73, "Creating startup diskette",
     {{IDCANCEL, kButton, 67, 52, 50, 14, "Cancel"},
      {IDC_STATIC, kText, 7, 7, 166, 13, "Please wait while creating startup diskette"}}},
    {IDD_DISKETTE_WAIT, kFrench, kShown, 0, 186, 73, "Création de la disquette de démarrage",
     {{IDCANCEL, kButton, 67, 52, 50, 14, "Annuler"},
      {IDC_STATIC, kText, 7, 7, 166, 19, "Veuillez patienter pendant la création de la disquette de démarrage..."}}},
    {IDD_DISKETTE_WAIT, kJapanese, kShown, 0, 186, 73, "スタートアップ・ディスケットの作成",
     {{IDCANCEL, kButton, 67, 52, 50, 14, "キャンセル"},
      {IDC_STATIC, kText, 10, 7, 166, 40, "スタートアップ・ディスケットを作成中ですのでしばらくお待ちください。"}}},
    {IDD_DISKETTE_RETRY, kEnglish, kHidden, 0, 267, 111, "Startup diskette creation failed",
     {{IDOK, kDefButton, 77, 90, 50, 14, "Yes"},
      {IDCANCEL, kButton, 140, 90, 50, 14, "No"},
      {IDC_STATIC, kText, 7, 7, 253, 10, "Creation of a startup diskette failed because of the following:"},
      {IDC_RETRY_TEXT, kText, 7, 22, 253, 40, ""},
      {IDC_STATIC, kText, 7, 69, 253, 8, "Would you like to try it again with another diskette?"}}},
    {IDD_DISKETTE_RETRY, kFrench, kHidden, 0, 267, 111, "Echec de la création de la disquette de démarrage",
     {{IDOK, kDefButton, 77, 90, 50, 14, "Oui"},
      {IDCANCEL, kButton, 140, 90, 50, 14, "Non"},
      {IDC_STATIC, kText, 7, 7, 256, 10, "La création de la disquette de démarrage a échoué pour l'une des raisons suivantes :"},
      {IDC_RETRY_TEXT, kText, 7, 22, 253, 40, ""},
      {IDC_STATIC, kText, 7, 69, 253, 8, "Voulez-vous essayer à nouveau avec une autre disquette ?"}}},
    {IDD_DISKETTE_RETRY, kJapanese, kHidden, 0, 267, 111, "スタートアップ・ディスケットの作成　失敗",
     {{IDOK, kDefButton, 77, 90, 50, 14, "はい"},
      {IDCANCEL, kButton, 140, 90, 50, 14, "いいえ"},
      {IDC_STATIC, kText, 7, 7, 253, 10, "スタートアップ・ディスケットの作成は次の理由により失敗しました:"},
      {IDC_RETRY_TEXT, kText, 7, 22, 253, 40, ""},
      {IDC_STATIC, kText, 7, 69, 253, 8, "他のディスケットでもう一度実行しますか？"}}},
};

void ExpectTemplate(const Dialog &want, const host::DialogTemplate &got) {
    EXPECT_EQ(got.style, want.style);
    EXPECT_EQ(got.exStyle, want.exStyle);
    EXPECT_EQ(got.cx, want.cx);
    EXPECT_EQ(got.cy, want.cy);
    EXPECT_EQ(got.caption, want.caption);
    EXPECT_EQ(got.fontName, want.language == kJapanese ? "ＭＳ ゴシック" : "MS Sans Serif");
    EXPECT_EQ(got.pointSize, 8);
    ASSERT_EQ(got.items.size(), want.controls.size());
    for (size_t i = 0; i < want.controls.size(); ++i) {
        const Control &w = want.controls[i];
        const host::DialogItem &g = got.items[i];
        SCOPED_TRACE(testing::Message() << "control #" << i);
        EXPECT_EQ(g.id, w.id);
        EXPECT_EQ(g.className, StyleOf(w.kind).className);
        EXPECT_EQ(g.style, StyleOf(w.kind).style);
        EXPECT_EQ(g.exStyle, 0u);
        EXPECT_EQ((std::vector<short>{g.x, g.y, g.cx, g.cy}), (std::vector<short>{w.x, w.y, w.cx, w.cy}));
        EXPECT_EQ(g.text, w.text ? w.text : "");
        EXPECT_EQ(g.textOrdinal, w.text ? -1 : IDI_UPDATE);
    }
}

TEST(ResourceDialogs, EveryTemplateInEveryLanguageMatches) {
    ASSERT_EQ(kDialogs.size(), 8u * 3u);
    for (const Dialog &want : kDialogs) {
        SCOPED_TRACE(testing::Message() << "dialog " << want.id << ", language " << want.language);
        HRSRC found = FindResourceExA(nullptr, RT_DIALOG, MAKEINTRESOURCEA(want.id), want.language);
        ASSERT_NE(found, nullptr);
        host::DialogTemplate got;
        ASSERT_TRUE(host::ParseDialogTemplate(LockResource(LoadResource(nullptr, found)),
                                              SizeofResource(nullptr, found), &got));
        ExpectTemplate(want, got);
    }
}

// --- Icon ------------------------------------------------------------------

TEST(ResourceIcon, GroupHoldsA32And16PixelSixteenColourImage) {
    HRSRC group = FindResourceExA(nullptr, RT_GROUP_ICON, MAKEINTRESOURCEA(IDI_UPDATE), kEnglish);
    ASSERT_NE(group, nullptr);
    const auto *dir = static_cast<const BYTE *>(LockResource(LoadResource(nullptr, group)));
    ASSERT_EQ(SizeofResource(nullptr, group), 6u + 2u * 14u);
    auto word = [](const BYTE *p) { return static_cast<unsigned>(p[0] | (p[1] << 8)); };
    auto dword = [&](const BYTE *p) { return word(p) | (word(p + 2) << 16); };
    EXPECT_EQ(word(dir + 2), 1u);  // icon, not cursor
    ASSERT_EQ(word(dir + 4), 2u);
    const unsigned sizes[] = {32, 16};
    for (int i = 0; i < 2; ++i) {
        const BYTE *entry = dir + 6 + 14 * i;
        unsigned n = sizes[i];
        SCOPED_TRACE(testing::Message() << n << "x" << n);
        EXPECT_EQ(entry[0], n);
        EXPECT_EQ(entry[1], n);
        EXPECT_EQ(entry[2], 16u);
        EXPECT_EQ(word(entry + 6), 4u);  // bits per pixel
        HRSRC image = FindResourceExA(nullptr, RT_ICON, MAKEINTRESOURCEA(word(entry + 12)), kEnglish);
        ASSERT_NE(image, nullptr);
        // Header, 16-entry palette, 4-bit colour rows and 1-bit mask rows,
        // each row padded to 32 bits.
        unsigned expected = 40 + 64 + n * n / 2 + n * 4;
        ASSERT_EQ(SizeofResource(nullptr, image), expected);
        EXPECT_EQ(dword(entry + 8), expected);
        const auto *bits = static_cast<const BYTE *>(LockResource(LoadResource(nullptr, image)));
        EXPECT_EQ(dword(bits), 40u);
        EXPECT_EQ(dword(bits + 4), n);
        EXPECT_EQ(dword(bits + 8), 2 * n);  // colour bits and mask
        EXPECT_EQ(word(bits + 14), 4u);
    }
}

// --- Choice of language ----------------------------------------------------

// Sets the locale variables for one test and puts the old ones back.
class ResourceLanguage : public testing::Test {
protected:
    void SetUp() override {
        for (const char *name : kNames) {
            const char *value = std::getenv(name);
            saved_.push_back(value ? std::optional<std::string>(value) : std::nullopt);
        }
        host::SetAnsiCodePageForTesting(65001);
    }
    void TearDown() override {
        for (size_t i = 0; i < std::size(kNames); ++i) {
            if (saved_[i]) setenv(kNames[i], saved_[i]->c_str(), 1);
            else unsetenv(kNames[i]);
        }
        host::SetAnsiCodePageForTesting(0);
    }
    static void Use(const char *lang) {
        unsetenv("LC_ALL");
        unsetenv("LC_MESSAGES");
        setenv("LANG", lang, 1);
    }

    static constexpr const char *kNames[] = {"LC_ALL", "LC_MESSAGES", "LANG"};
    std::vector<std::optional<std::string>> saved_;
};

TEST_F(ResourceLanguage, MessagesAndDialogsFollowTheUserLanguage) {
    struct Row {
        const char *lang;
        WORD language;
    } rows[] = {
        {"fr_FR.UTF-8", kFrench},
        {"ja_JP.UTF-8", kJapanese},
        {"de_DE.UTF-8", kEnglish},  // any other language gets English
        {"C", kEnglish},
    };
    const Message &floppy = kMessages[IDS_RESTART_FROM_FLOPPY - 101];
    for (const Row &row : rows) {
        SCOPED_TRACE(row.lang);
        Use(row.lang);
        // Loaded the way the program loads a message.
        char buffer[1000];
        LoadStringA(nullptr, IDS_RESTART_FROM_FLOPPY, buffer, 999);
        EXPECT_STREQ(buffer, floppy.In(row.language));
        host::DialogTemplate failure;
        ASSERT_TRUE(host::LoadDialogTemplate(MAKEINTRESOURCEA(IDD_FAILURE), &failure));
        EXPECT_EQ(failure.caption, row.language == kFrench     ? kCaptionFr
                                   : row.language == kJapanese ? kCaptionJa
                                                               : kCaptionEn);
        // The icon exists in English only and serves every language.
        EXPECT_NE(FindResourceA(nullptr, MAKEINTRESOURCEA(IDI_UPDATE), RT_GROUP_ICON), nullptr);
    }
}

}  // namespace
