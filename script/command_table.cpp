// The command handler table: one line per command code. Commands of subsystems that are
// not built yet run the unassigned handler until their subsystem puts its handler here.
#include "app/engine.h"
#include "app/input.h"
#include "app/menus.h"
#include "app/window_commands.h"
#include "files/file_commands.h"
#include "files/savedata.h"
#include "layers/frame_set.h"
#include "layers/image_process.h"
#include "layers/layer.h"
#include "media/media.h"
#include "script/maths.h"
#include "script/script_set.h"
#include "script/task.h"
#include "script/threads.h"
#include "script/var_utility.h"
#include "script/vars.h"
#include "sound/sound.h"
#include "text/text.h"

CommandHandler g_CommandHandlers[COMMAND_COUNT];

namespace {

const CommandHandler kCommandHandlers[COMMAND_COUNT] = {
    /*   0 Reserved0         */ CmdReserved0,
    /*   1 Layer             */ CmdLayer,
    /*   2 ImageProcess      */ CmdImageProcess,
    /*   3 LayerDelete       */ CmdLayerDelete,
    /*   4 LayerQuery        */ CmdLayerQuery,
    /*   5 ClipboardCopy     */ CmdClipboardCopy,
    /*   6 ClipboardPaste    */ CmdClipboardPaste,
    /*   7 Reserved7         */ CmdReserved7,
    /*   8 ReadTextTable     */ CmdReadTextTable,
    /*   9 ReturnZero        */ ReturnZero,
    /*  10 MessageBox        */ CmdMessageBox,
    /*  11 ElseIf            */ CmdElseIf,
    /*  12 Emote             */ CmdEmote,
    /*  13 EmoteQuery        */ CmdEmoteQuery,
    /*  14 End               */ CmdEnd,
    /*  15 SetOptions        */ CmdSetOptions,
    /*  16 Reserved16        */ CmdReserved16,
    /*  17 unassigned        */ CmdUnassigned,
    /*  18 unassigned        */ CmdUnassigned,
    /*  19 unassigned        */ CmdUnassigned,
    /*  20 unassigned        */ CmdUnassigned,
    /*  21 File              */ CmdFile,
    /*  22 FileQuery         */ CmdFileQuery,
    /*  23 Flash             */ CmdFlash,
    /*  24 FlashStop         */ CmdFlashStop,
    /*  25 FlashQuery        */ CmdFlashQuery,
    /*  26 DeclareReal       */ CmdDeclareReal,
    /*  27 TextStyle         */ CmdTextStyle,
    /*  28 TextInfo          */ CmdTextInfo,
    /*  29 FrameRate         */ CmdFrameRate,
    /*  30 unassigned        */ CmdUnassigned,
    /*  31 unassigned        */ CmdUnassigned,
    /*  32 unassigned        */ CmdUnassigned,
    /*  33 unassigned        */ CmdUnassigned,
    /*  34 Jump              */ CmdJump,
    /*  35 Call              */ CmdCall,
    /*  36 If                */ CmdIf,
    /*  37 Else              */ CmdElse,
    /*  38 BreakBlock        */ CmdBreakBlock,
    /*  39 RepeatBlock       */ CmdRepeatBlock,
    /*  40 EndIf             */ CmdEndIf,
    /*  41 InputSettings     */ CmdInputSettings,
    /*  42 DeclareInt        */ CmdDeclareInt,
    /*  43 ReturnZero        */ ReturnZero,
    /*  44 LabelExists       */ CmdLabelExists,
    /*  45 Assign            */ CmdAssign,
    /*  46 SaveDataLoad      */ CmdSaveDataLoad,
    /*  47 Loop              */ CmdLoop,
    /*  48 BreakLoop         */ CmdBreakLoop,
    /*  49 ContinueLoop      */ CmdContinueLoop,
    /*  50 LoopEnd           */ CmdLoopEnd,
    /*  51 unassigned        */ CmdUnassigned,
    /*  52 Math              */ CmdMath,
    /*  53 Perspective       */ CmdPerspective,
    /*  54 MenuItem          */ CmdMenuItem,
    /*  55 ShowPopupMenu     */ CmdShowPopupMenu,
    /*  56 DeleteMenuItem    */ CmdDeleteMenuItem,
    /*  57 MenuQuery         */ CmdMenuQuery,
    /*  58 MenuReserved58    */ CmdMenuReserved58,
    /*  59 MenuReserved59    */ CmdMenuReserved59,
    /*  60 MenuReserved60    */ CmdMenuReserved60,
    /*  61 Cursor            */ CmdCursor,
    /*  62 Movie             */ CmdMovie,
    /*  63 MovieStop         */ CmdMovieStop,
    /*  64 MovieQuery        */ CmdMovieQuery,
    /*  65 MovieReserved65   */ CmdMovieReserved65,
    /*  66 ReturnZero        */ ReturnZero,
    /*  67 RegistryRead      */ CmdRegistryRead,
    /*  68 Return            */ CmdReturn,
    /*  69 ReturnZero        */ ReturnZero,
    /*  70 MessageEnd        */ CmdMessageEnd,
    /*  71 ReturnZero        */ ReturnZero,
    /*  72 ReturnZero        */ ReturnZero,
    /*  73 ReturnZero        */ ReturnZero,
    /*  74 unassigned        */ CmdUnassigned,
    /*  75 SaveDataWrite     */ CmdSaveDataWrite,
    /*  76 SaveDataDrop      */ CmdSaveDataDrop,
    /*  77 SaveReserved77    */ CmdSaveReserved77,
    /*  78 Sound             */ CmdSound,
    /*  79 SoundDelete       */ CmdSoundDelete,
    /*  80 SoundQuery        */ CmdSoundQuery,
    /*  81 DeclareString     */ CmdDeclareString,
    /*  82 ScreenAndTimers   */ CmdScreenAndTimers,
    /*  83 ScriptFileQuery   */ CmdScriptFileQuery,
    /*  84 TaskStart         */ CmdTaskStart,
    /*  85 TaskEnd           */ CmdTaskEnd,
    /*  86 TaskQuery         */ CmdTaskQuery,
    /*  87 MessageConfig     */ CmdMessageConfig,
    /*  88 MessageConfigGet  */ CmdMessageConfigGet,
    /*  89 TrayIcon          */ CmdTrayIcon,
    /*  90 TrayReserved90    */ CmdTrayReserved90,
    /*  91 VariableUtility   */ CmdVariableUtility,
    /*  92 VariableInfo      */ CmdVariableInfo,
    /*  93 Wait              */ CmdWait,
    /*  94 Window            */ CmdWindow,
    /*  95 HideWindow        */ CmdHideWindow,
    /*  96 WindowQuery       */ CmdWindowQuery,
    /*  97 MessageText       */ CmdMessageText,
    /*  98 LayerFrameSet     */ CmdLayerFrameSet,
    /*  99 FrameSetRelease   */ CmdFrameSetRelease,
    /* 100 FrameSetQuery     */ CmdFrameSetQuery,
    /* 101 MessageValue      */ CmdMessageValue,
    /* 102 unassigned        */ CmdUnassigned,
    /* 103 unassigned        */ CmdUnassigned,
    /* 104 unassigned        */ CmdUnassigned,
    /* 105 EngineCall        */ CmdEngineCall,
    /* 106 unassigned        */ CmdUnassigned,
    /* 107 unassigned        */ CmdUnassigned,
    /* 108 unassigned        */ CmdUnassigned,
    /* 109 unassigned        */ CmdUnassigned,
};

}  // namespace

int ReturnZero() { return 0; }

void FillCommandHandlers() {
  for (int c = 0; c < COMMAND_COUNT; c++) g_CommandHandlers[c] = kCommandHandlers[c];
}
