// The command table of the compiled set, one line per command code: the script name, then the
// parameters in parameter-id order as name:type[/check], type i integer, s string, c code.
// "name#a-b:type" stands for the parameters namea .. nameb.
#include "tools/lib/command_defs.h"

#include <cstdlib>

namespace {

const char* const kCommandTable[COMMAND_DEF_COUNT] = {
    /*   0 */ "reserved0|",
    /*   1 */ "layer|name:s,number,visible,opacity,x,y,priority,width,height,unused10,unused11,texoption,texture,offscreen,gpurefresh,x100,y100,scalex,scaley,rotation1,rotation2,rotation3,pivotx,pivoty,emotex,emotey,userc,saturation,tone,userbyte,second:s,crossfade,keepbuffer,file:s,share:s,mask:s,unused37,rule,maskname:s,masknumber,sharpness,blend:i/11,unused43,usera,userb",
    /*   2 */ "imageprocess|layer#1-4:s,number#1-4,unused9,a:c,b:c,text:s,x1,y1,x2,y2,width,height,x1c,y1c,x2c,y2c,widthc,heightc,left,right,top,bottom,op#29-34,unused35,op#36-74",
    /*   3 */ "layerdelete|name:s,number",
    /*   4 */ "layerquery|name:s,number,exists,visible,opacity,x,y,priority,unused9,rule,maskname,sharpness,blend,width,height,x100,y100,scalex,scaley,emotex,emotey,userc,gpukind,pixel,alpha,argb,colour,box,usera,userb,out,px,py",
    /*   5 */ "clipboardcopy|copy,text:s",
    /*   6 */ "clipboardpaste|paste,out",
    /*   7 */ "reserved7|",
    /*   8 */ "readtexttable|file:s,count,read,out",
    /*   9 */ "nop9|",
    /*  10 */ "messagebox|caption:s,text:s,unused#3-9,default:s,input:i,result,unused13,okcancel,yesno,yesnocancel,dialog,maxlength,defbutton,icon,reserved,unused22,unused23",
    /*  11 */ "elseif|cond:i,next:c",
    /*  12 */ "emote|layer:s,number,enabled,unused4,switch,factor#1-3,effect,effect#1-5,trigger,name:s,play,stop,time,blend,names,values,count,variables:s",
    /*  13 */ "emotequery|layer:s,number,name:s,out,animating,timeline,track,variables",
    /*  14 */ "end|restart",
    /*  15 */ "setoptions|unused1,unused2,option#1-110",
    /*  16 */ "reserved16|",
    /*  17 */ "unassigned17|",
    /*  18 */ "unassigned18|",
    /*  19 */ "unassigned19|",
    /*  20 */ "unassigned20|",
    /*  21 */ "file|file:s,dest:s,folder:s,mkdir,copy,delete,run,runwait,params:s,quality,layer:s,number,bmp,png,jpeg,preloadimage,preloadsound",
    /*  22 */ "filequery|path:s,data:s,image:s,sound:s,exists,size,program,out",
    /*  23 */ "flash|file:s,play,x,y,width,height,user",
    /*  24 */ "flashstop|",
    /*  25 */ "flashquery|playing,rootvar,x,y,width,height,frame,user,total,out",
    /*  26 */ "real|name:c,value:c",
    /*  27 */ "textstyle|slot,font,face:s,antialias,colour1:i/25,colour2:i/25,gradient:i/8,rotation:i/8,composite:i/3,width:i/12,height:i/12,bold:i/3",
    /*  28 */ "textinfo|font,face,antialias,colour1,colour2,gradient,rotation,composite,width,height,bold,fontcount,zero,script,advance,charheight,unused17,text:s,out",
    /*  29 */ "framerate|fps,skip",
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
    /*  41 */ "inputsettings|keys,joysticks,mouse",
    /*  42 */ "int|name:c,value:c",
    /*  43 */ "nop43|",
    /*  44 */ "labelexists|label:s,out:i,test:i",
    /*  45 */ "assign|target:c,value:c",
    /*  46 */ "saveload|file:s,slot,var,layer:s,number",
    /*  47 */ "loop|count:c,end:c",
    /*  48 */ "break|count:i",
    /*  49 */ "continue|count:i",
    /*  50 */ "loopend|",
    /*  51 */ "unassigned51|",
    /*  52 */ "math|out,x:c,y:c,text:s,sin,asin,sinh,cos,acos,cosh,tan,atan,atan2,tanh,sqrt,abs,exp,log,log10,pow,random,crc",
    /*  53 */ "perspective|ints,reals",
    /*  54 */ "menuitem|path:s,caption:s,priority,visible,enabled,checked,id",
    /*  55 */ "popupmenu|path:s,show",
    /*  56 */ "menudelete|path:s",
    /*  57 */ "menuquery|out,path:s,caption,exists,priority,visible,enabled,checked,id",
    /*  58 */ "menureserved58|",
    /*  59 */ "menureserved59|",
    /*  60 */ "menureserved60|",
    /*  61 */ "cursor|mode,delay,showmove,showclick,showwheel,x,y,shape,hotx,hoty,layer:s",
    /*  62 */ "movie|file:s,play,x,y,width,height,volume",
    /*  63 */ "moviestop|",
    /*  64 */ "moviequery|playing,x,y,width,height,volume,kind:s,out",
    /*  65 */ "moviereserved65|",
    /*  66 */ "nop66|",
    /*  67 */ "registryread|key:s,value:s,out",
    /*  68 */ "return|i#1-16:i,r#1-16:c,s#1-16:s",
    /*  69 */ "nop69|",
    /*  70 */ "messageend|mark:c",
    /*  71 */ "nop71|",
    /*  72 */ "nop72|",
    /*  73 */ "nop73|",
    /*  74 */ "unassigned74|",
    /*  75 */ "savewrite|file:s,slot,var,layer:s,number",
    /*  76 */ "savedrop|",
    /*  77 */ "savereserved77|",
    /*  78 */ "sound|name:s,number,enabled,file:s,play,pause,fade,start,loopstart,loopend,loops,volume:i/12,pan:i/14,pitch:i/14,nop,unused16,unused17",
    /*  79 */ "sounddelete|name:s,number",
    /*  80 */ "soundquery|name:s,number,loaded,enabled,playing,paused,volume,pan,pitch,file,format,start,loopstart,loopend,loops,done,position,length,channels,bits,rate,left,right,kind,out",
    /*  81 */ "str|name:c,value:c",
    /*  82 */ "screen|screensaver,keeprunning,width,height,timer#1-4",
    /*  83 */ "scriptfilequery|name,count,value,emote,number,out",
    /*  84 */ "taskstart|name:s,flag1,flag2,priority,i#1-10,r#1-10,s#1-10:s,label:s,state:s,unused36,again",
    /*  85 */ "taskend|name:s",
    /*  86 */ "taskquery|name:s,out,exists,flag1,flag2,priority,file,filenumber,line,outerfile,outernumber,outerline,mark1,mark2,unused14,unused15,blocks,calls,loops,state",
    /*  87 */ "messageconfig|layer:s,shown,advance#1-4,skip#1-4,delay,newline,newpage,newlinekeep,newpagekeep,click,clear,endnewline,endnewpage,endclick",
    /*  88 */ "messageconfigget|unused1,shown,cursorx,cursory,waiting,endnewline,endnewpage,endclick,out",
    /*  89 */ "trayicon|show,tip:s,icon:s,menu:s",
    /*  90 */ "trayreserved90|",
    /*  91 */ "varutil|a,b,remove,take,start,count,convert,upper,mbupper,lower,mblower,wide,narrow,size,insert,delete",
    /*  92 */ "varinfo|a,d,type,charwidth,dims,dim#1-8,length,search,findint,findreal,findtext:s,from",
    /*  93 */ "wait|frames:i,ms:i",
    /*  94 */ "window|window:i/5,title:s,alpha,visible,x,y,zorder,width,height,clientwidth,clientheight,foreground,maxbox,fullscreen,minimize,maximize,maxallowed,minallowed,closemode,flash,flashtime,layer:s,menu:s,region:s,drag:s,resizable",
    /*  95 */ "hidewindow|window:i/5",
    /*  96 */ "windowquery|window:i/5,out,exists,alpha,visible,active,title,x,y,unused10,width,height,clientwidth,clientheight,monitor,fullscreen,maximized,minimized",
    /*  97 */ "messagetext|text:c",
    /*  98 */ "framesetlayer|name:s,number,file:s,frame",
    /*  99 */ "framesetrelease|name:s,number",
    /* 100 */ "framesetquery|name:s,number,out,count,header#1-3",
    /* 101 */ "messagevalue|value:c",
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
    CommandSpec command;
    command.name = text.substr(0, bar);
    std::string params = text.substr(bar + 1);
    size_t at = 0;
    while (at < params.size()) {
      size_t comma = params.find(',', at);
      if (comma == std::string::npos) comma = params.size();
      AddParams(params.substr(at, comma - at), &command.params);
      at = comma + 1;
    }
    specs.push_back(command);
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
