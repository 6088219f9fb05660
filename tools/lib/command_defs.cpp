// The command table of the compiled set, one line per command code: the script name, then the
// parameters in parameter-id order as name:type[/check], type i integer, s string, c code.
// "name#a-b:type" stands for the parameters namea .. nameb.
#include "tools/lib/command_defs.h"

#include <cstdlib>

namespace {

const char* const kCommandTable[COMMAND_DEF_COUNT] = {
    /*   0 */ "reserved0|",
    /*   1 */ "layer|name:s,number:i,visible:i,opacity:i,x:i,y:i,priority:i,width:i,height:i,unused10:i,"
              "unused11:i,textureoption:i,texture:i,offscreen:i,gpurefresh:i,x100:i,y100:i,scalex:i,"
              "scaley:i,rot1:i,rot2:i,rot3:i,pivotx:i,pivoty:i,emotex:i,emotey:i,userc:i,saturation:i,"
              "tone:i,userbyte:i,second:s,crossfade:i,keepbuffer:i,image:s,share:s,maskfrom:s,"
              "unused37:i,rule:i,mask:s,masknumber:i,edge:i,blend:i/11,unused43:i,usera:i,userb:i",
    /*   2 */ "imageprocess|",
    /*   3 */ "layerdelete|name:s,number:i",
    /*   4 */ "layerquery|name:s,number:i,exists:i,visible:i,opacity:i,x:i,y:i,priority:i,unused9:i,"
              "rule:i,maskname:i,edge:i,blend:i,width:i,height:i,x100:i,y100:i,scalex:i,scaley:i,"
              "emotex:i,emotey:i,userc:i,gpukind:i,windowcolour:i,windowalpha:i,windowargb:i,pixel:i,"
              "bounds:i,usera:i,userb:i,out:i,px:i,py:i",
    /*   5 */ "clipboardcopy|",
    /*   6 */ "clipboardpaste|",
    /*   7 */ "reserved7|",
    /*   8 */ "readtexttable|",
    /*   9 */ "nop9|",
    /*  10 */ "messagebox|",
    /*  11 */ "elseif|cond:i,next:c",
    /*  12 */ "emote|",
    /*  13 */ "emotequery|",
    /*  14 */ "end|",
    /*  15 */ "setoptions|",
    /*  16 */ "reserved16|",
    /*  17 */ "unassigned17|",
    /*  18 */ "unassigned18|",
    /*  19 */ "unassigned19|",
    /*  20 */ "unassigned20|",
    /*  21 */ "file|",
    /*  22 */ "filequery|",
    /*  23 */ "flash|",
    /*  24 */ "flashstop|",
    /*  25 */ "flashquery|",
    /*  26 */ "real|name:c,value:c",
    /*  27 */ "textstyle|",
    /*  28 */ "textinfo|",
    /*  29 */ "framerate|",
    /*  30 */ "unassigned30|",
    /*  31 */ "unassigned31|",
    /*  32 */ "unassigned32|",
    /*  33 */ "unassigned33|",
    /*  34 */ "jump|label:s",
    /*  35 */ "call|label:s,i#1-16:i,r#1-16:c,s#1-16:s",
    /*  36 */ "if|cond:i,next:c,end:c",
    /*  37 */ "else|",
    /*  38 */ "breakblock|count:i",
    /*  39 */ "repeatblock|count:i",
    /*  40 */ "endif|",
    /*  41 */ "inputsettings|",
    /*  42 */ "int|name:c,value:c",
    /*  43 */ "nop43|",
    /*  44 */ "labelexists|label:s,out:i,test:i",
    /*  45 */ "assign|target:c,value:c",
    /*  46 */ "saveload|",
    /*  47 */ "loop|count:c,end:c",
    /*  48 */ "break|count:i",
    /*  49 */ "continue|count:i",
    /*  50 */ "loopend|",
    /*  51 */ "unassigned51|",
    /*  52 */ "math|",
    /*  53 */ "perspective|",
    /*  54 */ "menuitem|",
    /*  55 */ "popupmenu|",
    /*  56 */ "menudelete|",
    /*  57 */ "menuquery|",
    /*  58 */ "menureserved58|",
    /*  59 */ "menureserved59|",
    /*  60 */ "menureserved60|",
    /*  61 */ "cursor|",
    /*  62 */ "movie|",
    /*  63 */ "moviestop|",
    /*  64 */ "moviequery|",
    /*  65 */ "moviereserved65|",
    /*  66 */ "nop66|",
    /*  67 */ "registryread|",
    /*  68 */ "return|i#1-16:i,r#1-16:c,s#1-16:s",
    /*  69 */ "nop69|",
    /*  70 */ "messageend|",
    /*  71 */ "nop71|",
    /*  72 */ "nop72|",
    /*  73 */ "nop73|",
    /*  74 */ "unassigned74|",
    /*  75 */ "savewrite|",
    /*  76 */ "savedrop|",
    /*  77 */ "savereserved77|",
    /*  78 */ "sound|",
    /*  79 */ "sounddelete|",
    /*  80 */ "soundquery|",
    /*  81 */ "str|name:c,value:c",
    /*  82 */ "screen|",
    /*  83 */ "scriptfilequery|",
    /*  84 */ "taskstart|",
    /*  85 */ "taskend|",
    /*  86 */ "taskquery|",
    /*  87 */ "messageconfig|",
    /*  88 */ "messageconfigget|",
    /*  89 */ "trayicon|",
    /*  90 */ "trayreserved90|",
    /*  91 */ "varutil|",
    /*  92 */ "varinfo|",
    /*  93 */ "wait|frames:i,ms:i",
    /*  94 */ "window|",
    /*  95 */ "hidewindow|",
    /*  96 */ "windowquery|",
    /*  97 */ "messagetext|",
    /*  98 */ "framesetlayer|",
    /*  99 */ "framesetrelease|",
    /* 100 */ "framesetquery|",
    /* 101 */ "messagevalue|",
    /* 102 */ "unassigned102|",
    /* 103 */ "unassigned103|",
    /* 104 */ "unassigned104|",
    /* 105 */ "enginecall|code:i,result:i,arg#3-22:i,text:i",
    /* 106 */ "unassigned106|",
    /* 107 */ "unassigned107|",
    /* 108 */ "unassigned108|",
    /* 109 */ "unassigned109|",
};

uint8_t TypeCode(char c) { return c == 's' ? 1 : c == 'c' ? 2 : 0; }

// One "name:type[/check]" item, with "name#a-b" expanded.
void AddParams(const std::string& item, std::vector<ParamSpec>* out) {
  size_t colon = item.find(':');
  std::string name = item.substr(0, colon);
  std::string rest = colon == std::string::npos ? "i" : item.substr(colon + 1);
  uint8_t type = TypeCode(rest.empty() ? 'i' : rest[0]);
  size_t slash = rest.find('/');
  uint8_t check = slash == std::string::npos ? 0 : (uint8_t)atoi(rest.c_str() + slash + 1);
  size_t hash = name.find('#');
  if (hash == std::string::npos) {
    out->push_back({name, type, check});
    return;
  }
  std::string prefix = name.substr(0, hash);
  int first = atoi(name.c_str() + hash + 1);
  int last = atoi(name.c_str() + name.find('-', hash) + 1);
  for (int k = first; k <= last; k++) out->push_back({prefix + std::to_string(k), type, check});
}

std::vector<CommandSpec> ParseTable() {
  std::vector<CommandSpec> specs;
  for (const char* line : kCommandTable) {
    std::string text = line;
    size_t bar = text.find('|');
    CommandSpec spec;
    spec.name = text.substr(0, bar);
    std::string params = text.substr(bar + 1);
    size_t at = 0;
    while (at < params.size()) {
      size_t comma = params.find(',', at);
      if (comma == std::string::npos) comma = params.size();
      AddParams(params.substr(at, comma - at), &spec.params);
      at = comma + 1;
    }
    specs.push_back(spec);
  }
  return specs;
}

char Lower(char c) { return c >= 'A' && c <= 'Z' ? (char)(c - 'A' + 'a') : c; }

bool SameNoCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t k = 0; k < a.size(); k++)
    if (Lower(a[k]) != Lower(b[k])) return false;
  return true;
}

}  // namespace

const std::vector<CommandSpec>& CommandSpecs() {
  static const std::vector<CommandSpec> specs = ParseTable();
  return specs;
}

int FindCommandCode(const std::string& name) {
  const std::vector<CommandSpec>& specs = CommandSpecs();
  for (size_t c = 0; c < specs.size(); c++)
    if (SameNoCase(specs[c].name, name)) return (int)c;
  return -1;
}

int FindParamId(int code, const std::string& param) {
  if (code < 0 || code >= COMMAND_DEF_COUNT) return -1;
  const std::vector<ParamSpec>& params = CommandSpecs()[(size_t)code].params;
  for (size_t p = 0; p < params.size(); p++)
    if (SameNoCase(params[p].name, param)) return (int)p;
  return -1;
}
