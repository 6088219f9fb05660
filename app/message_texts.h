// The texts of the numbered messages, in UTF-8, shared by the runtime and the tools: those built
// into the program, those it falls back on, and those the tools write into every game's table.
#pragma once

#include <cstdint>

struct MessageText {
  int32_t id;
  const char* utf8;
};

// Built into the program: these win over a game's own table.
inline constexpr MessageText kBuiltinMessageTexts[] = {
    {100000,
     "This program uses the following libraries.\n\n"
     "Ogg Vorbis (libvorbis, libvorbisfile, libogg)\nCopyright (c) Xiph.Org Foundation\n\n"
     "libpng\nCopyright (c) the PNG Reference Library authors\n\n"
     "zlib\nCopyright (c) Jean-loup Gailly and Mark Adler"},
    {100010, "メモリ不足です。"},
    {104010, "[%s]ファイルを\n読み込めませんでした。"},
    {104030, "メモリ不足のため[%s]ファイルを\n読み込めませんでした。"},
    {104060, "[%s]ファイルが\n存在しません。"},
    {104100, "パックファイル中に破損ファイルが見つかりました。\n\nPacFile = %s\nFile = %s"},
    {104110, "フォルダの数が多すぎます。"},
    {104111, "フォルダの階層が深すぎます。"},
    {104120, "パックファイル仕様が現在の仕様と一致しません。\n\n[%s]"},
    {104130, "パックファイルを同時に扱えるのは %d 個までです。"},
    {104140, "パックファイル内に含まれるファイルが、合計 %d 個を超えました。"},
    {104150, "パックファイル内のファイル\n[%s]が\n重複しています。"},
    {106010, "メモリ不足により\n[%s]ファイルを展開出来ませんでした。"},
    {900040, "[内部エラー]\n\nバッファ不足により\n[%s]ファイルを展開出来ませんでした。"},
    {901040, "[内部エラー]\n\nパックファイル[%s]が\nオープンできませんでした。"},
};

// The texts of the ids this engine chose itself, for faults no game's message table names: broken
// set files and records, a script run past its end, an expression beyond the evaluator's
// limits, a task state too long for a text, and a project without its start label; and of the
// two refusals of the project settings, which come before the game's table is loaded and so
// could never show the game's own text. A project text of the same id still wins; these stand
// in only where the table has none, so the player learns what went wrong rather than reading
// the internal-error text.
inline constexpr MessageText kOwnMessageTexts[] = {
    {105010, "[%s]ファイルが\n壊れています。"},
    {108180, "ラベル[%s]が\n見つかりません。"},
    {160020, "式が複雑すぎるため\n計算できません。"},
    {900060, "[内部エラー]\n\nコマンドの引数が壊れています。"},
    {900080, "[内部エラー]\n\nスクリプトの最後を越えて実行しようとしました。"},
    {900190, "[内部エラー]\n\nタスクの状態が長すぎるため\n文字列に収まりません。"},
    {901000, "プロジェクト設定のタイトルが長すぎます。\n\nタイトルは 128 バイトまでです。"},
    {901020,
     "プロジェクト設定のゲーム画面サイズが範囲外です。\n\n"
     "幅は 128 から 8192、高さは 16 から 8192 までです。\n(幅と高さが両方 0 ならデスクトップのサイズになります。)"},
};

// Every other id the runtime raises, with the arguments its callers pass (in the comments). The
// tools write these, the two lists above and a game's own `message` lines into the game's table,
// so no message a player meets is left without its text.
inline constexpr MessageText kGameMessageTexts[] = {
    {100030, "%s：[%s]ファイルの形式には\n対応していません。"},                      // command, file
    {100070, "[%s]ファイルは\nBMP形式ではありません。"},                             // file
    {100080, "[%s]ファイルの\n画素データの位置が不正です。"},                        // file
    {100090, "[%s]ファイルは\nランレングス圧縮のBMPです。\n圧縮しないBMPにしてください。"},  // file
    {100091, "[%s]ファイルの画像が大きすぎます。\n幅と高さは 8192 以下にしてください。"},   // file
    {100092, "[%s]ファイルは\n上下が逆のBMP（高さが負）です。"},                      // file
    {100200, "[%s]ファイルを\nPNGとして読み込めませんでした。\n壊れているか、途中で切れています。"},  // file
    {100210, "[%s]ファイルを\nJPEGとして読み込めませんでした。"},                     // file
    {100215, "[%s]ファイルを\nGIFとして読み込めませんでした。"},                      // file
    {100220, "[%s]ファイルは\nPSD形式です。PSD形式には対応していません。"},            // file
    {100230, "パスの途中のグループ[%s]が\n存在しません。"},                           // component, ""
    {100240, "%s：新しく作るときは\npriority を指定してください。"},                  // command
    {100242, "パス[%s]に\n空白は使えません。"},                                       // path
    {100243, "%s：width と height は\n両方指定してください。"},                        // command
    {100244, "%s：width と height を指定するときは\n画像ファイルも指定してください。"},  // command
    {100260, "%s：新しい項目[%s]には\ncaption を指定してください。"},                   // command, path
    {100310, "レイヤー[%s]（%d x %d）と\nマスク[%s]（%d x %d）の\n大きさが違います。"},  // layer, w, h, mask, w, h
    {101000, "%s の %s の値 %lld は範囲外です。\n%d から %d までの値にしてください。"},   // command, param, value, min, max
    {101010, "%s の %s の値 %lld は小さすぎます。\n%d 以上の値にしてください。"},        // command, param, value, min
    {101020, "%s の %s の値 %lld は範囲外です。\n-1 から 0xFFFFFF までの値にしてください。"},  // command, param, value
    {101030, "%s の %s の値 %lld は範囲外です。\n0 から 0xFFFFFF までの値にしてください。"},   // command, param, value
    {101100, "配列の要素が多すぎます。\n要素の数は %d 以下にしてください。"},          // most elements
    {101110, "配列の要素の数は\n1 以上にしてください。"},
    {101140, "変数の型が違います。"},
    {101150, "このシステム変数には\n代入できません。"},
    {101210, "%s の %s の値 %lld は大きすぎます。\n%d 以下の値にしてください。"},        // command, param, value, max
    {101220, "%s の %s の値 %lld は負の数です。\n0 以上の値にしてください。"},           // command, param, value
    {101230, "%s：レイヤー[%s]が\n存在しません。"},                                   // command, path
    {101240, "%s の %s のフォント番号 %lld は\nありません。フォントは %d 個です。"},      // command, param, value, count
    {101250, "%s：レイヤー[%s]が\n存在しません。"},                                   // command, path
    {101280, "%s：グループのレイヤーには\n画像を読み込めません。"},                    // command
    {101281, "%s：%s は\n範囲の指定と一緒には使えません。"},                          // command, param
    {101282, "%s：%s は\n範囲の指定と一緒には使えません。"},                          // command, param
    {101283, "%s：%s は\n範囲の指定と一緒には使えません。"},                          // command, param
    {101284, "%s：%s は\n範囲の指定と一緒には使えません。"},                          // command, param
    {101291, "%s：[%s]は\nグループのレイヤーです。"},                                 // command, path
    {101292, "%s：サウンドのグループには\n音声ファイルを読み込めません。"},            // command
    {101293, "%s：[%s]は\nタスクのグループです。"},                                   // command, path
    {101295, "%s：%s には\npx と py の両方が必要です。"},                              // command, param
    {101296, "%s：%s には\nもう一つのレイヤーが必要です。"},                           // command, param
    {101297, "%s：%s には\nもう一つのレイヤーが必要です。"},                           // command, param
    {101298, "%s：%s には\nもう一つのレイヤーが必要です。"},                           // command, param
    {101300, "%s：この %s に対応する\n%s がありません。"},                              // command, command, opener
    {101310, "%s：メインウィンドウには\n%s = %d を指定できません。"},                  // command, param, value
    {101320, "%s：新しいウィンドウには\ntitle を指定してください。"},                  // command
    {101330, "%s：メインウィンドウは\n隠せません（%s = %d）。"},                       // command, param, value
    {101400, "%s：タスク[%s]が\n存在しません。"},                                     // command, path
    {101420, "%s：メインのタスクは\n終了できません。"},                               // command
    {101450, "%s：%s に\n空の文字列は使えません。"},                                  // command, param
    {101510, "ムービーのファイル名が空です。"},
    {101520, "ムービーを再生できませんでした。"},
    {101600, "%s の入れ子が深すぎます。\n%s は %d 段目を開けません。"},                 // command, command, 64
    {102000, "メッセージが長すぎます。"},
    {102030, "メッセージに加える値が長すぎます。\n1024 バイト以下にしてください。"},
    {102100, "%s：%s のファイル[%s]を\n開けませんでした。"},                           // command, param, file
    {102110, "%s：%s のスロットには\nデータがありません。"},                            // command, param
    {102120, "%s：セーブデータの型が\n変数の型（%s）と違います。"},                     // command, declaring command
    {102130, "%s：スクリプトファイル[%s]が\nありません。"},                             // command, script file
    {102140, "%s：ファイル[%s]に\n書き込めませんでした。\n\n(%d) %s"},                  // command, file, errno, text
    {102150, "%s：ファイル名[%s]に\nフォルダの区切りは使えません。"},                   // command, file
    {102160, "%s：ファイル名[%s]が長すぎます。\n32 バイト以下にしてください。"},         // command, file
    {102170, "%s：%s のスロット %d は\nすでに書き込み待ちです。"},                      // command, param, slot
    {105000, "コンパイル済みファイルの形式が\nこのプログラムと一致しません。"},
    {105210, "フルスクリーンに\n切り替えられませんでした。"},
    {107010, "配列の範囲外の要素を\n指定しました。"},
    {108010, "変数が存在しません。"},
    {108030, "セーブファイルではありません。"},
    {108040, "セーブファイルの形式が\nこのプログラムと一致しません。"},
    {108050, "レイヤーのセーブデータを\n変数に読み込もうとしました。"},
    {108070, "セーブデータの大きさが不正です。"},
    {108080, "セーブデータと変数の\n次元の数が違います。"},
    {108090, "セーブデータと変数の\n配列の大きさが違います。"},
    {108100, "変数のセーブデータを\nレイヤーに読み込もうとしました。"},
    {108110, "レイヤーのセーブデータが\n壊れています。"},
    {108120, "ループの終わりに対応する\nループがありません。"},
    {108200, "この組み合わせの変数は\n変換できません。"},
    {108210, "数値ではない文字列を\n数値にしようとしました。"},
    {108220, "文字列ではない変数に\n文字列の操作をしようとしました。"},
    {110200, "サウンドの命令が多すぎて\n処理が追いつきません。"},
    {120010, "取り出す位置が\n文字列の外です。"},
    {120020, "取り出す文字数が\n文字列の終わりを越えています。"},
    {120110, "削除する位置が\n文字列の外です。"},
    {120120, "削除する文字数が\n文字列の終わりを越えています。"},
    {160010, "文字列と数値は\n一緒に計算できません。"},
    {900000, "[内部エラー]\n\nタスクの状態またはセーブデータの\n型が不正です。"},
    {900010, "[内部エラー]\n\nメッセージの内部コードが不正です。"},
    {900020, "[内部エラー]\n\nレイヤーのパスが空です。"},
    {900030, "[内部エラー]\n\n式に不明な命令があります。"},
    {900050, "[内部エラー]\n\n割り当てのないコマンドを\n実行しようとしました。"},
    {900070, "[内部エラー]\n\n変数の定義が\n変数表の範囲を越えています。"},
    {901030, "[内部エラー]\n\nスクリプトファイルの番号が\n範囲外です。"},
};
