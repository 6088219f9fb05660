// The OpenGL device: an OpenGL 3.3 core context (OpenGL ES 3.0 where only that exists) of its
// own on a hidden SDL window, textures and render targets as GL textures with framebuffers,
// the texture stages and the effect passes in shaders, the blend states as GL blend
// functions, read-back with glReadPixels.
#include "platform/gl/gpu_gl.h"

#include <SDL2/SDL.h>
#include <SDL2/SDL_opengl.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

struct PlatGpuTexture;

namespace {

// Tiles never ask for more than this, and a larger texture would take a gigabyte.
constexpr int MAX_SIDE = 8192;

// The GL entry points the device uses, loaded from the context it made.
#define ENTRY_POINTS(X)                                                                                     \
  X(decltype(&::glGenTextures), GenTextures) X(decltype(&::glDeleteTextures), DeleteTextures)                  \
  X(decltype(&::glBindTexture), BindTexture) X(decltype(&::glTexImage2D), TexImage2D)                          \
  X(decltype(&::glTexSubImage2D), TexSubImage2D) X(decltype(&::glTexParameteri), TexParameteri)                \
  X(decltype(&::glPixelStorei), PixelStorei) X(decltype(&::glReadPixels), ReadPixels)                          \
  X(decltype(&::glViewport), Viewport) X(decltype(&::glClearColor), ClearColor) X(decltype(&::glClear), Clear) \
  X(decltype(&::glEnable), Enable) X(decltype(&::glDisable), Disable) X(decltype(&::glBlendFunc), BlendFunc)   \
  X(decltype(&::glGetError), GetError) X(decltype(&::glGetIntegerv), GetIntegerv) X(decltype(&::glGetString), GetString)                              \
  X(decltype(&::glDrawArrays), DrawArrays) X(decltype(&::glFinish), Finish)                                    \
  X(PFNGLACTIVETEXTUREPROC, ActiveTexture) X(PFNGLBLENDEQUATIONPROC, BlendEquation)                            \
  X(PFNGLGENBUFFERSPROC, GenBuffers) X(PFNGLDELETEBUFFERSPROC, DeleteBuffers)                                  \
  X(PFNGLBINDBUFFERPROC, BindBuffer) X(PFNGLBUFFERDATAPROC, BufferData)                                        \
  X(PFNGLCREATESHADERPROC, CreateShader)                              \
  X(PFNGLSHADERSOURCEPROC, ShaderSource) X(PFNGLCOMPILESHADERPROC, CompileShader)                              \
  X(PFNGLGETSHADERIVPROC, GetShaderiv) X(PFNGLDELETESHADERPROC, DeleteShader)                                  \
  X(PFNGLCREATEPROGRAMPROC, CreateProgram) X(PFNGLATTACHSHADERPROC, AttachShader)                              \
  X(PFNGLBINDATTRIBLOCATIONPROC, BindAttribLocation) X(PFNGLLINKPROGRAMPROC, LinkProgram)                      \
  X(PFNGLGETPROGRAMIVPROC, GetProgramiv) X(PFNGLDELETEPROGRAMPROC, DeleteProgram)                              \
  X(PFNGLUSEPROGRAMPROC, UseProgram) X(PFNGLGETUNIFORMLOCATIONPROC, GetUniformLocation)                        \
  X(PFNGLUNIFORM1IPROC, Uniform1i)           \
  X(PFNGLUNIFORM2FPROC, Uniform2f) X(PFNGLUNIFORM3FPROC, Uniform3f) X(PFNGLUNIFORM4FPROC, Uniform4f)           \
  X(PFNGLVERTEXATTRIBPOINTERPROC, VertexAttribPointer)                                                         \
  X(PFNGLENABLEVERTEXATTRIBARRAYPROC, EnableVertexAttribArray) X(PFNGLGENVERTEXARRAYSPROC, GenVertexArrays)    \
  X(PFNGLDELETEVERTEXARRAYSPROC, DeleteVertexArrays) X(PFNGLBINDVERTEXARRAYPROC, BindVertexArray)              \
  X(PFNGLGENFRAMEBUFFERSPROC, GenFramebuffers) X(PFNGLDELETEFRAMEBUFFERSPROC, DeleteFramebuffers)              \
  X(PFNGLBINDFRAMEBUFFERPROC, BindFramebuffer) X(PFNGLFRAMEBUFFERTEXTURE2DPROC, FramebufferTexture2D)          \
  X(PFNGLCHECKFRAMEBUFFERSTATUSPROC, CheckFramebufferStatus)

struct GlFunctions {
#define ENTRY_MEMBER(type, name) type name;
  ENTRY_POINTS(ENTRY_MEMBER)
#undef ENTRY_MEMBER
  // From the robustness extension or GL 4.5; null when the context has neither.
  PFNGLGETGRAPHICSRESETSTATUSPROC GetGraphicsResetStatus;
};

GlFunctions gl;

bool LoadFunctions() {
  bool all = true;
#define ENTRY_LOAD(type, name)                                                  \
  gl.name = reinterpret_cast<type>(SDL_GL_GetProcAddress("gl" #name)); \
  all = all && gl.name;
  ENTRY_POINTS(ENTRY_LOAD)
#undef ENTRY_LOAD
  gl.GetGraphicsResetStatus = nullptr;
  for (const char* name : {"glGetGraphicsResetStatus", "glGetGraphicsResetStatusARB", "glGetGraphicsResetStatusKHR",
                           "glGetGraphicsResetStatusEXT"})
    if (!gl.GetGraphicsResetStatus)
      gl.GetGraphicsResetStatus = reinterpret_cast<PFNGLGETGRAPHICSRESETSTATUSPROC>(SDL_GL_GetProcAddress(name));
  return all;
}

// What a texture of this device holds; handed out as PlatGpuTexture.
struct GlTexture {
  int width = 0, height = 0;
  int format = PLAT_GPU_FORMAT_ARGB8;
  bool renderTarget = false;
  uint32_t generation = 0;   // the context that made it
  GLuint name = 0;           // 0 once that context is gone
  GLuint framebuffer = 0;    // made the first time it is drawn into or read back
};

GlGpuObjects g_Count;

// Colours stay in memory order, B, G, R, A, from upload to read-back: textures hold the bytes
// as they come, the shaders work on them as they are (every operation but the rule pass's red
// treats the three colour channels alike), and the framebuffer's bytes are read back as they
// lie. That needs no BGRA format, which OpenGL ES does not have.
const char* const kVertexShader = R"(
// Positions are in pixels with pixel centres on whole numbers; rows go down from the top, and
// row 0 is the first row in memory, so read-back and uploads need no flip.
layout(location = 0) in vec3 aPosition;
layout(location = 1) in vec4 aDiffuse;
layout(location = 2) in vec2 aUv;
uniform vec2 uPixelToClip;
out vec4 vDiffuse;
out vec2 vUv;
void main() {
  gl_Position = vec4((aPosition.xy + 0.5) * uPixelToClip - 1.0, 0.0, 1.0);
  vDiffuse = aDiffuse;
  vUv = aUv;
}
)";

// The two texture stages, or the effect's passes: each stage's colour and alpha operation,
// saturated after every stage; a disabled colour operation ends the chain. Every program is
// made for one set of operations, arguments, bound textures, filters and pass, given as the
// constants after the version line, so the compiler keeps only the path that set takes.
const char* const kFragmentShader = R"(
in vec4 vDiffuse;
in vec2 vUv;
out vec4 fragColour;
uniform sampler2D uTexture0;
uniform sampler2D uTexture1;
uniform vec4 uFactor;
uniform vec3 uEffect;   // alpha value, fade, fade2

// Texels are fetched and weighed here rather than by the sampler, so the weights have full
// precision on every driver: clamp addressing, texel centres at (i + 0.5) / size.
vec4 Fetch(sampler2D s, ivec2 size, ivec2 p) { return texelFetch(s, clamp(p, ivec2(0), size - 1), 0); }

vec4 Sample(sampler2D s, vec2 uv, bool linear) {
  ivec2 size = textureSize(s, 0);
  vec2 t = clamp(uv * vec2(size), vec2(-2.0), vec2(size) + 2.0);
  if (!linear) return Fetch(s, size, ivec2(floor(t)));
  t -= 0.5;
  vec2 base = floor(t);
  vec2 f = t - base;
  ivec2 p = ivec2(base);
  vec4 a = Fetch(s, size, p), b = Fetch(s, size, p + ivec2(1, 0));
  vec4 c = Fetch(s, size, p + ivec2(0, 1)), d = Fetch(s, size, p + ivec2(1, 1));
  vec4 top = a + (b - a) * f.x, bottom = c + (d - c) * f.x;
  return top + (bottom - top) * f.y;
}

vec4 Arg(int arg, vec4 tex, bool has, vec4 current) {
  if (arg == 0) return has ? tex : current;
  if (arg == 1) return vDiffuse;
  if (arg == 2) return uFactor;
  return current;
}

float Op(int op, float a1, float a2, float currentAlpha) {
  if (op == 2) return a1 * a2;
  if (op == 3) return a1 * currentAlpha + a2 * (1.0 - currentAlpha);
  return a1;
}

vec4 Stage(ivec3 c, ivec3 a, vec4 tex, bool has, vec4 current) {
  vec4 c1 = Arg(c.y, tex, has, current);
  vec4 c2 = Arg(c.z, tex, has, current);
  vec4 next;
  next.r = Op(c.x, c1.r, c2.r, current.a);
  next.g = Op(c.x, c1.g, c2.g, current.a);
  next.b = Op(c.x, c1.b, c2.b, current.a);
  if (a.x == 0) next.a = current.a;
  else next.a = Op(a.x, Arg(a.y, tex, has, current).a, Arg(a.z, tex, has, current).a, current.a);
  return clamp(next, 0.0, 1.0);
}

void main() {
  vec4 t0 = vec4(0.0), t1 = vec4(0.0);
#if HAS0
  t0 = Sample(uTexture0, vUv, LINEAR0 != 0);
#endif
#if HAS1
  t1 = Sample(uTexture1, vUv, LINEAR1 != 0);
#endif
#if PASS == 0
  vec4 c = t0 + (t1 - t0) * uEffect.y;
  c.a *= uEffect.x;
  fragColour = clamp(c, 0.0, 1.0);
#elif PASS == 1
  t0.a *= clamp((uEffect.y - 0.5 * t1.z) * uEffect.z, 0.0, 1.0) * uEffect.x;   // z: red
  fragColour = clamp(t0, 0.0, 1.0);
#else
  vec4 current = vDiffuse;
#if COLOUR0_OP != 0
  current = Stage(ivec3(COLOUR0_OP, COLOUR0_ARGS), ivec3(ALPHA0_OP, ALPHA0_ARGS), t0, HAS0 != 0, current);
#if COLOUR1_OP != 0
  current = Stage(ivec3(COLOUR1_OP, COLOUR1_ARGS), ivec3(ALPHA1_OP, ALPHA1_ARGS), t1, HAS1 != 0, current);
#endif
#endif
  fragColour = current;
#endif
}
)";

// One program of the cache and the uniforms a draw sets on it.
struct Program {
  GLuint name = 0;
  GLint pixelToClip = -1, factor = -1, effect = -1;
};

struct Device {
  SDL_Window* window = nullptr;
  SDL_GLContext context = nullptr;
  bool es = false;             // an OpenGL ES context
  bool videoStarted = false;   // the device holds a reference on SDL's video subsystem
  bool exists = false;
  int status = PLAT_GPU_READY;
  uint32_t generation = 0;
  int width = 0, height = 0;
  PlatGpuCaps caps{};
  GLuint vertexShader = 0, vertexArray = 0, vertexBuffer = 0;
  // Programs by ProgramKey, made the first time a draw needs one.
  std::unordered_map<uint32_t, Program> programs;
  GlTexture backBuffer;
  GLuint scratchFramebuffer = 0;   // clears new textures
  GlTexture plain;                 // the benchmarks' plain transfers
  float pixelToClip[2] = {};       // of the current render target
  GlTexture* target = nullptr;     // null: the back buffer
  GlTexture* stageTexture[3] = {};
  uint8_t filter[3][2] = {};
  PlatGpuDrawState state{};
  PlatGpuEffect effect{PLAT_GPU_NO_PASS, 1.0f, 0.0f, 0.0f};
  float transforms[3][16] = {};
  // What presenting to a window needs: the copying program, the picture and the menu bar.
  GLuint presentProgram = 0;
  GLint presentRect = -1, presentWindow = -1;
  GLuint picture = 0, bar = 0;
  int pictureSize[2] = {}, barSize[2] = {};
  SDL_Window* intervalWindow = nullptr;   // the window the swap interval was last set for
};

Device g_Device;

// Every entry point runs under this lock, so a second thread waits for the call in progress.
std::mutex g_Lock;
// The thread the context is current on, or none. A context is current on one thread at a
// time; the thread that has it lets it go at a hand-off point (GlGpuLeaveThread, the end of a
// presentation) and the next thread that calls takes it.
std::thread::id g_Holder;
// The lock of the entry point running on this thread, which a waiting Take lets go meanwhile.
thread_local std::unique_lock<std::mutex>* t_Entry = nullptr;

struct Entry {
  std::unique_lock<std::mutex> lock{g_Lock};
  std::unique_lock<std::mutex>* outer = t_Entry;
  Entry() { t_Entry = &lock; }
  ~Entry() { t_Entry = outer; }
};

// Whether a device exists, read without the lock by the main thread's event pump.
std::atomic<bool> g_Exists{false};
SDL_Window* g_PresentWindow = nullptr;   // the window the device presents to, or none
int g_SwapInterval = -1;                 // of the last presentation; -1 before the first
int g_Presentations = 0;

// Makes the context current on this thread with `drawable`. A context another thread has is
// waited for (up to two seconds) when `wait` is set, else refused.
bool Take(SDL_Window* drawable, bool wait) {
  Device& d = g_Device;
  const std::thread::id me = std::this_thread::get_id(), none;
  for (int waited = 0; d.context && g_Holder != me && g_Holder != none; waited++) {
    if (!wait || !t_Entry || waited >= 2000) return false;
    t_Entry->unlock();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    t_Entry->lock();
  }
  if (!d.context || SDL_GL_MakeCurrent(drawable, d.context) != 0) return false;
  g_Holder = me;
  return true;
}

void LetGo() {
  if (g_Holder != std::this_thread::get_id()) return;
  SDL_GL_MakeCurrent(nullptr, nullptr);
  // SDL keeps the current context in storage of the thread, which a thread SDL did not start
  // would leave behind when it ends.
  SDL_TLSCleanup();
  g_Holder = std::thread::id();
}
// Every texture record handed out and not yet released, of this device or an earlier one.
std::unordered_set<GlTexture*> g_Textures;

int g_RefuseCreations = 0;
bool g_OnlyEs = false;
PlatGpuCaps g_CapsOverride{};
bool g_CapsOverridden = false;

GlTexture* Own(PlatGpuTexture* t) {
  GlTexture* g = reinterpret_cast<GlTexture*>(t);
  return g && g_Textures.count(g) ? g : nullptr;
}
PlatGpuTexture* Handle(GlTexture* t) { return reinterpret_cast<PlatGpuTexture*>(t); }

// The context is there and current, and not lost.
bool Live() { return g_Device.exists && g_Device.status == PLAT_GPU_READY && Take(g_Device.window, true); }

bool OfThisDevice(const GlTexture* t) { return t && g_Device.exists && t->generation == g_Device.generation; }

// Deletes a name while the context can take the call, and forgets it when the context is gone.
void DropTexture(GLuint* name, bool contextUsable) {
  if (!*name) return;
  if (contextUsable) gl.DeleteTextures(1, name);
  *name = 0;
  g_Count.textures--;
}
void DropFramebuffer(GLuint* name, bool contextUsable) {
  if (!*name) return;
  if (contextUsable) gl.DeleteFramebuffers(1, name);
  *name = 0;
  g_Count.framebuffers--;
}
void DropNames(GlTexture* t, bool contextUsable) {
  DropFramebuffer(&t->framebuffer, contextUsable);
  DropTexture(&t->name, contextUsable);
}

// Every object of the current context, deleted or forgotten.
void DropContextObjects(bool usable) {
  Device& d = g_Device;
  for (GlTexture* t : g_Textures)
    if (t->generation == d.generation) DropNames(t, usable);
  DropNames(&d.backBuffer, usable);
  DropNames(&d.plain, usable);
  DropFramebuffer(&d.scratchFramebuffer, usable);
  if (d.vertexBuffer) {
    if (usable) gl.DeleteBuffers(1, &d.vertexBuffer);
    d.vertexBuffer = 0;
    g_Count.buffers--;
  }
  if (d.vertexArray) {
    if (usable) gl.DeleteVertexArrays(1, &d.vertexArray);
    d.vertexArray = 0;
    g_Count.vertexArrays--;
  }
  for (auto& entry : d.programs) {
    if (usable) gl.DeleteProgram(entry.second.name);
    g_Count.programs--;
  }
  d.programs.clear();
  if (d.vertexShader) {
    if (usable) gl.DeleteShader(d.vertexShader);
    d.vertexShader = 0;
    g_Count.shaders--;
  }
  if (d.presentProgram) {
    if (usable) gl.DeleteProgram(d.presentProgram);
    d.presentProgram = 0;
    g_Count.programs--;
  }
  DropTexture(&d.picture, usable);
  DropTexture(&d.bar, usable);
  d.intervalWindow = nullptr;
  d.target = nullptr;
  for (GlTexture*& s : d.stageTexture) s = nullptr;
}

// A context current on another thread is destroyed by the driver once that thread lets it go.
void DeleteContext() {
  if (g_Device.context) SDL_GL_DeleteContext(g_Device.context);
  g_Device.context = nullptr;
  g_Holder = std::thread::id();
}

// The context goes away as a driver reset takes it: nothing in it can be used again.
void LoseContext(int status) {
  DropContextObjects(false);
  DeleteContext();
  g_Device.status = status;
}

// Takes a reference on SDL's video subsystem for the device's window; false without one.
bool StartVideo() {
  if (SDL_WasInit(SDL_INIT_VIDEO)) {
    g_Device.videoStarted = SDL_InitSubSystem(SDL_INIT_VIDEO) == 0;
    return g_Device.videoStarted;
  }
  // Without a backend window system (the headless backend) the context needs no display:
  // SDL's offscreen driver makes it through EGL. That subsystem then stays for the rest of
  // the process, as the driver library does.
  SDL_SetHintWithPriority(SDL_HINT_VIDEODRIVER, "offscreen", SDL_HINT_OVERRIDE);
  bool ok = SDL_InitSubSystem(SDL_INIT_VIDEO) == 0;
  SDL_ResetHint(SDL_HINT_VIDEODRIVER);
  return ok;
}

void SetContextAttributes(bool es, bool robust) {
  SDL_GL_ResetAttributes();
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, es ? SDL_GL_CONTEXT_PROFILE_ES : SDL_GL_CONTEXT_PROFILE_CORE);
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 3);
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, es ? 0 : 3);
  // The pixel format stays SDL's default, the one a game window made for OpenGL has, so the
  // context can be made current on that window to present.
  if (robust) {
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_FLAGS, SDL_GL_CONTEXT_ROBUST_ACCESS_FLAG);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_RESET_NOTIFICATION, SDL_GL_CONTEXT_RESET_LOSE_CONTEXT);
  }
}

// The hidden window and a 3.3 core context on it, else an ES 3.0 one; robust where the
// driver offers it.
bool OpenContext() {
  Device& d = g_Device;
  if (!StartVideo()) return false;
  for (bool es : {false, true}) {
    if (!es && g_OnlyEs) continue;
    for (bool robust : {true, false}) {
      SetContextAttributes(es, robust);
      d.window = SDL_CreateWindow("", 0, 0, 16, 16, SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN);
      if (d.window) d.context = SDL_GL_CreateContext(d.window);
      if (d.context) break;
      if (d.window) SDL_DestroyWindow(d.window);
      d.window = nullptr;
    }
    if (d.context) break;
  }
  // Whatever creates a context after us starts from SDL's defaults.
  SDL_GL_ResetAttributes();
  // The driver library stays loaded for the rest of the process: it keeps state of its own
  // across contexts, and loading it again for every device would cost more than the device.
  if (d.context) SDL_GL_LoadLibrary(nullptr);
  if (!d.context || SDL_GL_MakeCurrent(d.window, d.context) != 0) return false;
  g_Holder = std::this_thread::get_id();
  if (!LoadFunctions()) return false;
  const char* version = reinterpret_cast<const char*>(gl.GetString(GL_VERSION));
  d.es = version && !strncmp(version, "OpenGL ES", 9);
  return true;
}

void CloseContext() {
  Device& d = g_Device;
  DeleteContext();
  if (d.window) SDL_DestroyWindow(d.window);
  d.window = nullptr;
  if (d.videoStarted) SDL_QuitSubSystem(SDL_INIT_VIDEO);
  d.videoStarted = false;
}

GLuint CompileShader(GLenum kind, const std::string& source) {
  GLuint s = gl.CreateShader(kind);
  if (!s) return 0;
  g_Count.shaders++;
  const char* text = source.c_str();
  gl.ShaderSource(s, 1, &text, nullptr);
  gl.CompileShader(s);
  GLint ok = 0;
  gl.GetShaderiv(s, GL_COMPILE_STATUS, &ok);
  if (ok) return s;
  gl.DeleteShader(s);
  g_Count.shaders--;
  return 0;
}

// What selects a program: the operations and arguments of both stages (2 bits each), the
// effect pass, and the textures bound to stages 0 and 1 with their filters. A pass ignores
// the stages.
std::string VersionLines() {
  if (!g_Device.es) return "#version 330 core\n";
  return "#version 300 es\nprecision highp float;\nprecision highp int;\nprecision highp sampler2D;\n";
}

uint32_t ProgramKey(const PlatGpuDrawState& s, int pass, const bool has[2], const bool linear[2]) {
  uint32_t key = 0;
  if (pass == PLAT_GPU_NO_PASS)
    for (const PlatGpuStage& st : s.stage)
      for (uint8_t v : {st.colourOp, st.colourArg1, st.colourArg2, st.alphaOp, st.alphaArg1, st.alphaArg2})
        key = key << 2 | (v & 3u);
  key = key << 2 | uint32_t(pass + 1);
  return key << 4 | uint32_t(has[0]) << 3 | uint32_t(has[1]) << 2 | uint32_t(linear[0]) << 1 | uint32_t(linear[1]);
}

std::string ProgramConstants(const PlatGpuDrawState& s, int pass, const bool has[2], const bool linear[2]) {
  std::string c = VersionLines();
  auto define = [&c](const char* name, const std::string& value) { c += "#define " + std::string(name) + " " + value + "\n"; };
  auto pair = [](int a, int b) { return std::to_string(a & 3) + ", " + std::to_string(b & 3); };
  define("HAS0", std::to_string(has[0]));
  define("HAS1", std::to_string(has[1]));
  define("LINEAR0", std::to_string(linear[0]));
  define("LINEAR1", std::to_string(linear[1]));
  define("PASS", std::to_string(pass));
  const PlatGpuStage& s0 = s.stage[0];
  const PlatGpuStage& s1 = s.stage[1];
  define("COLOUR0_OP", std::to_string(s0.colourOp & 3));
  define("COLOUR0_ARGS", pair(s0.colourArg1, s0.colourArg2));
  define("ALPHA0_OP", std::to_string(s0.alphaOp & 3));
  define("ALPHA0_ARGS", pair(s0.alphaArg1, s0.alphaArg2));
  define("COLOUR1_OP", std::to_string(s1.colourOp & 3));
  define("COLOUR1_ARGS", pair(s1.colourArg1, s1.colourArg2));
  define("ALPHA1_OP", std::to_string(s1.alphaOp & 3));
  define("ALPHA1_ARGS", pair(s1.alphaArg1, s1.alphaArg2));
  return c;
}

PlatGpuDrawState DefaultDrawState();

// The program for a draw, made and kept the first time; null when it cannot be made.
const Program* ProgramFor(const PlatGpuDrawState& s, int pass, const bool has[2], const bool linear[2]) {
  Device& d = g_Device;
  uint32_t key = ProgramKey(s, pass, has, linear);
  auto found = d.programs.find(key);
  if (found != d.programs.end()) return &found->second;
  GLuint fs = CompileShader(GL_FRAGMENT_SHADER, ProgramConstants(s, pass, has, linear) + kFragmentShader);
  if (!fs) return nullptr;
  Program p;
  p.name = gl.CreateProgram();
  if (p.name) {
    g_Count.programs++;
    gl.AttachShader(p.name, d.vertexShader);
    gl.AttachShader(p.name, fs);
    gl.LinkProgram(p.name);
    GLint ok = 0;
    gl.GetProgramiv(p.name, GL_LINK_STATUS, &ok);
    if (!ok) {
      gl.DeleteProgram(p.name);
      p.name = 0;
      g_Count.programs--;
    }
  }
  // The program keeps what it needs of the fragment shader.
  gl.DeleteShader(fs);
  g_Count.shaders--;
  if (!p.name) return nullptr;
  p.pixelToClip = gl.GetUniformLocation(p.name, "uPixelToClip");
  p.factor = gl.GetUniformLocation(p.name, "uFactor");
  p.effect = gl.GetUniformLocation(p.name, "uEffect");
  gl.UseProgram(p.name);
  gl.Uniform1i(gl.GetUniformLocation(p.name, "uTexture0"), 0);
  gl.Uniform1i(gl.GetUniformLocation(p.name, "uTexture1"), 1);
  return &d.programs.emplace(key, p).first->second;
}

// The vertex shader every program shares, and the program of the starting states made at
// once: a driver that does not take the shaders gives no device.
bool BuildShaders() {
  Device& d = g_Device;
  d.vertexShader = CompileShader(GL_VERTEX_SHADER, VersionLines() + kVertexShader);
  if (!d.vertexShader) return false;
  const bool none[2] = {false, false};
  return ProgramFor(DefaultDrawState(), PLAT_GPU_NO_PASS, none, none) != nullptr;
}

bool BuildVertexInput() {
  Device& d = g_Device;
  gl.GenVertexArrays(1, &d.vertexArray);
  if (!d.vertexArray) return false;
  g_Count.vertexArrays++;
  gl.BindVertexArray(d.vertexArray);
  gl.GenBuffers(1, &d.vertexBuffer);
  if (!d.vertexBuffer) return false;
  g_Count.buffers++;
  gl.BindBuffer(GL_ARRAY_BUFFER, d.vertexBuffer);
  gl.BufferData(GL_ARRAY_BUFFER, sizeof(PlatGpuVertex) * 4, nullptr, GL_STREAM_DRAW);
  static_assert(sizeof(PlatGpuVertex) == 24, "corners are uploaded as they are");
  gl.VertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, sizeof(PlatGpuVertex), reinterpret_cast<void*>(0));
  gl.VertexAttribPointer(1, 4, GL_UNSIGNED_BYTE, GL_TRUE, sizeof(PlatGpuVertex), reinterpret_cast<void*>(12));
  gl.VertexAttribPointer(2, 2, GL_FLOAT, GL_FALSE, sizeof(PlatGpuVertex), reinterpret_cast<void*>(16));
  for (GLuint i = 0; i < 3; i++) gl.EnableVertexAttribArray(i);
  return true;
}

// Forgets errors of earlier calls, so the next check sees only its own. Bounded: a lost
// context may answer with an error every time.
void ClearErrors() {
  for (int i = 0; i < 8 && gl.GetError() != GL_NO_ERROR; i++) {
  }
}

bool AttachTo(GLuint framebuffer, GLuint texture) {
  gl.BindFramebuffer(GL_FRAMEBUFFER, framebuffer);
  gl.FramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, texture, 0);
  return gl.CheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
}

// A texture of transparent black texels; false (and nothing left behind) when the context
// cannot hold it.
bool MakeTextureNames(GlTexture* t) {
  Device& d = g_Device;
  ClearErrors();
  gl.GenTextures(1, &t->name);
  if (!t->name) return false;
  g_Count.textures++;
  gl.ActiveTexture(GL_TEXTURE2);
  gl.BindTexture(GL_TEXTURE_2D, t->name);
  gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
  gl.TexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, t->width, t->height, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
  bool ok = gl.GetError() == GL_NO_ERROR && AttachTo(d.scratchFramebuffer, t->name);
  if (ok) {
    gl.ClearColor(0, 0, 0, 0);
    gl.Clear(GL_COLOR_BUFFER_BIT);
    gl.FramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, 0, 0);
    ok = gl.GetError() == GL_NO_ERROR;
  }
  gl.BindTexture(GL_TEXTURE_2D, 0);
  if (!ok) DropTexture(&t->name, true);
  return ok;
}

// The framebuffer that draws into (or reads from) a render target.
bool TargetFramebuffer(GlTexture* t) {
  if (t->framebuffer) {
    gl.BindFramebuffer(GL_FRAMEBUFFER, t->framebuffer);
    return true;
  }
  gl.GenFramebuffers(1, &t->framebuffer);
  if (!t->framebuffer) return false;
  g_Count.framebuffers++;
  if (AttachTo(t->framebuffer, t->name)) return true;
  DropFramebuffer(&t->framebuffer, true);
  return false;
}

GlTexture* CurrentTarget() { return g_Device.target ? g_Device.target : &g_Device.backBuffer; }

bool BindTarget() {
  GlTexture* t = CurrentTarget();
  if (!t->name || !TargetFramebuffer(t)) return false;
  gl.Viewport(0, 0, t->width, t->height);
  g_Device.pixelToClip[0] = 2.0f / t->width;
  g_Device.pixelToClip[1] = 2.0f / t->height;
  return true;
}

PlatGpuDrawState DefaultDrawState() {
  PlatGpuDrawState s{};
  s.stage[0] = {PLAT_TOP_MODULATE, PLAT_TA_TEXTURE, PLAT_TA_CURRENT, PLAT_TOP_SELECTARG1, PLAT_TA_TEXTURE,
                PLAT_TA_CURRENT};
  s.stage[1] = {PLAT_TOP_DISABLE, PLAT_TA_TEXTURE, PLAT_TA_CURRENT, PLAT_TOP_DISABLE, PLAT_TA_TEXTURE,
                PLAT_TA_CURRENT};
  s.textureFactor = 0xFFFFFFFF;
  s.srcBlend = PLAT_BLEND_ONE;
  s.destBlend = PLAT_BLEND_ZERO;
  s.blendOp = PLAT_BLENDOP_ADD;
  return s;
}

GLenum BlendFactor(uint8_t f) {
  switch (f) {
    case PLAT_BLEND_ZERO: return GL_ZERO;
    case PLAT_BLEND_ONE: return GL_ONE;
    case PLAT_BLEND_SRCALPHA: return GL_SRC_ALPHA;
    case PLAT_BLEND_INVSRCALPHA: return GL_ONE_MINUS_SRC_ALPHA;
    case PLAT_BLEND_SRCCOLOR: return GL_SRC_COLOR;
    case PLAT_BLEND_INVSRCCOLOR: return GL_ONE_MINUS_SRC_COLOR;
    case PLAT_BLEND_DESTCOLOR: return GL_DST_COLOR;
    default: return GL_ONE_MINUS_DST_COLOR;
  }
}

GLenum BlendEquation(uint8_t op) {
  switch (op) {
    case PLAT_BLENDOP_REVSUBTRACT: return GL_FUNC_REVERSE_SUBTRACT;
    case PLAT_BLENDOP_MIN: return GL_MIN;
    case PLAT_BLENDOP_MAX: return GL_MAX;
    default: return GL_FUNC_ADD;
  }
}

// The states of the next draw: the program and its uniforms, the textures of stages 0 and 1,
// blending. False when no program can be made for them.
bool ApplyDrawState() {
  Device& d = g_Device;
  const PlatGpuDrawState& s = d.state;
  bool effect = d.effect.pass != PLAT_GPU_NO_PASS;
  bool has[2], linear[2];
  for (int unit = 0; unit < 2; unit++) {
    const GlTexture* t = d.stageTexture[unit];
    // A texture that is also the render target is not read: the draw would read what it writes.
    has[unit] = t && t->name && t != CurrentTarget();
    // The magnification filter decides, as on the software device; the effect's passes sample
    // linearly whatever the sampler states say.
    linear[unit] = effect || d.filter[unit][0] == PLAT_FILTER_LINEAR;
    gl.ActiveTexture(GL_TEXTURE0 + unit);
    gl.BindTexture(GL_TEXTURE_2D, has[unit] ? t->name : 0);
  }
  const Program* p = ProgramFor(s, effect ? d.effect.pass : PLAT_GPU_NO_PASS, has, linear);
  if (!p) return false;
  gl.UseProgram(p->name);
  gl.Uniform2f(p->pixelToClip, d.pixelToClip[0], d.pixelToClip[1]);
  uint32_t f = s.textureFactor;
  gl.Uniform4f(p->factor, float(f & 0xFF) / 255.0f, float((f >> 8) & 0xFF) / 255.0f, float((f >> 16) & 0xFF) / 255.0f,
               float(f >> 24) / 255.0f);
  gl.Uniform3f(p->effect, d.effect.alphaValue, d.effect.fade, d.effect.fade2);
  gl.Enable(GL_BLEND);
  gl.BlendFunc(BlendFactor(s.srcBlend), BlendFactor(s.destBlend));
  gl.BlendEquation(BlendEquation(s.blendOp));
  return true;
}

// ---------------------------------------------------------------------------------------------
// The slots.

void GlReleaseDevice() {
  Device& d = g_Device;
  if (!d.window && !d.context && !d.videoStarted) return;
  // A context that another thread still has (one that has ended) is not waited for: its objects
  // go with it.
  bool usable = d.context && d.status == PLAT_GPU_READY && Take(d.window, false);
  DropContextObjects(usable);
  CloseContext();
  d.exists = false;
  g_Exists = false;
  d.status = PLAT_GPU_READY;
}

// Whether the context's renderer is one of Mesa's rasterizers that draw on the processor.
bool SoftwareRenderer() {
  const char* renderer = reinterpret_cast<const char*>(gl.GetString(GL_RENDERER));
  std::string name = renderer ? renderer : "";
  std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return char(std::tolower(c)); });
  for (const char* software : {"llvmpipe", "softpipe", "swrast", "software rasterizer"})
    if (name.find(software) != std::string::npos) return true;
  return false;
}

bool GlCreateDevice(int width, int height, PlatGpuCaps* caps) {
  GlReleaseDevice();
  Device& d = g_Device;
  if (g_RefuseCreations != 0) {
    if (g_RefuseCreations > 0) g_RefuseCreations--;
    return false;
  }
  if (width < 1 || height < 1) return false;
  d.generation++;
  d.exists = true;
  d.status = PLAT_GPU_READY;
  bool ok = OpenContext();
  GLint major = 0, maxTexture = 0, maxRenderbuffer = 0, viewport[2] = {};
  if (ok) {
    gl.GetIntegerv(GL_MAJOR_VERSION, &major);
    gl.GetIntegerv(GL_MAX_TEXTURE_SIZE, &maxTexture);
    gl.GetIntegerv(GL_MAX_RENDERBUFFER_SIZE, &maxRenderbuffer);
    gl.GetIntegerv(GL_MAX_VIEWPORT_DIMS, viewport);
    int side = std::min({MAX_SIDE, (int)maxTexture, (int)maxRenderbuffer, (int)viewport[0], (int)viewport[1]});
    d.caps = PlatGpuCaps{side, side, 30, SoftwareRenderer() && !GlGpuNamed()};
    if (g_CapsOverridden) d.caps = g_CapsOverride;
    // The back buffer and the window-sized textures must fit the device.
    ok = major >= 3 && width <= d.caps.maxTextureWidth && height <= d.caps.maxTextureHeight;
  }
  ok = ok && BuildShaders() && BuildVertexInput();
  if (ok) {
    gl.GenFramebuffers(1, &d.scratchFramebuffer);
    ok = d.scratchFramebuffer != 0;
    if (ok) g_Count.framebuffers++;
  }
  d.backBuffer = GlTexture{width, height, PLAT_GPU_FORMAT_ARGB8, true, d.generation, 0, 0};
  ok = ok && MakeTextureNames(&d.backBuffer) && TargetFramebuffer(&d.backBuffer);
  if (!ok) {
    GlReleaseDevice();
    return false;
  }
  d.width = width;
  d.height = height;
  d.target = nullptr;
  for (GlTexture*& s : d.stageTexture) s = nullptr;
  memset(d.filter, PLAT_FILTER_POINT, sizeof d.filter);
  memset(d.transforms, 0, sizeof d.transforms);
  for (float(&m)[16] : d.transforms) m[0] = m[5] = m[10] = m[15] = 1.0f;
  d.state = DefaultDrawState();
  d.effect = PlatGpuEffect{PLAT_GPU_NO_PASS, 1.0f, 0.0f, 0.0f};
  gl.Disable(GL_DEPTH_TEST);
  gl.Disable(GL_CULL_FACE);
  gl.Disable(GL_DITHER);
  *caps = d.caps;
  g_Exists = true;
  return true;
}

int GlTestDevice() {
  Device& d = g_Device;
  if (!d.exists) return PLAT_GPU_NO_DEVICE;
  // A reset the driver reports leaves a context that can only be thrown away.
  if (d.status == PLAT_GPU_READY && gl.GetGraphicsResetStatus && Live() &&
      gl.GetGraphicsResetStatus() != GL_NO_ERROR)
    LoseContext(PLAT_GPU_NOT_RESET);
  return d.status;
}

PlatGpuTexture* GlCreateTexture(int width, int height, int format, bool renderTarget) {
  const PlatGpuCaps& caps = g_Device.caps;
  if (width < 1 || height < 1 || width > caps.maxTextureWidth || height > caps.maxTextureHeight || !Live())
    return nullptr;
  GlTexture* t = new GlTexture;
  t->width = width;
  t->height = height;
  t->format = format == PLAT_GPU_FORMAT_ARGB4 ? PLAT_GPU_FORMAT_ARGB4 : PLAT_GPU_FORMAT_ARGB8;
  t->renderTarget = renderTarget;
  t->generation = g_Device.generation;
  if (!MakeTextureNames(t)) {
    delete t;
    return nullptr;
  }
  g_Textures.insert(t);
  g_Count.textureRecords++;
  return Handle(t);
}

void GlReleaseTexture(PlatGpuTexture* handle) {
  GlTexture* t = Own(handle);
  if (!t) return;
  Device& d = g_Device;
  if (d.target == t) d.target = nullptr;
  for (GlTexture*& s : d.stageTexture)
    if (s == t) s = nullptr;
  DropNames(t, OfThisDevice(t) && Live());
  g_Textures.erase(t);
  g_Count.textureRecords--;
  delete t;
}

bool GlWriteTexture(PlatGpuTexture* handle, const uint8_t* bgra, int pitch, bool dither) {
  GlTexture* t = Own(handle);
  if (!OfThisDevice(t) || !bgra || pitch < t->width * 4) return false;
  // A lost device takes the texels and keeps nothing.
  if (g_Device.status != PLAT_GPU_READY) return true;
  if (!Live() || !t->name) return false;
  std::vector<uint8_t> packed;
  const uint8_t* source = bgra;
  int rowTexels = pitch / 4;
  if (t->format == PLAT_GPU_FORMAT_ARGB4 || pitch % 4 != 0) {
    packed.resize((size_t)t->width * t->height * 4);
    for (int y = 0; y < t->height; y++)
      memcpy(packed.data() + (size_t)y * t->width * 4, bgra + (size_t)y * pitch, (size_t)t->width * 4);
    if (t->format == PLAT_GPU_FORMAT_ARGB4) PlatGpuQuantizeTo4Bits(packed.data(), t->width, t->height, dither);
    source = packed.data();
    rowTexels = t->width;
  }
  ClearErrors();
  gl.ActiveTexture(GL_TEXTURE2);
  gl.BindTexture(GL_TEXTURE_2D, t->name);
  gl.PixelStorei(GL_UNPACK_ALIGNMENT, 4);
  gl.PixelStorei(GL_UNPACK_ROW_LENGTH, rowTexels);
  gl.TexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, t->width, t->height, GL_RGBA, GL_UNSIGNED_BYTE, source);
  gl.PixelStorei(GL_UNPACK_ROW_LENGTH, 0);
  gl.BindTexture(GL_TEXTURE_2D, 0);
  return gl.GetError() == GL_NO_ERROR;
}

bool GlSetRenderTarget(PlatGpuTexture* handle) {
  if (!g_Device.exists) return false;
  GlTexture* t = Own(handle);
  if (handle && (!OfThisDevice(t) || !t->renderTarget)) return false;
  g_Device.target = t;
  return true;
}

void GlClear(uint32_t argb) {
  if (!Live() || !BindTarget()) return;
  gl.ClearColor(float(argb & 0xFF) / 255.0f, float((argb >> 8) & 0xFF) / 255.0f, float((argb >> 16) & 0xFF) / 255.0f,
                float(argb >> 24) / 255.0f);
  gl.Clear(GL_COLOR_BUFFER_BIT);
}

bool GlSetTexture(int stage, PlatGpuTexture* handle) {
  if (stage < 0 || stage > 2 || !g_Device.exists) return false;
  GlTexture* t = Own(handle);
  if (handle && !OfThisDevice(t)) return false;
  g_Device.stageTexture[stage] = t;
  return true;
}

void GlSetSamplerFilter(int stage, uint8_t mag, uint8_t min) {
  if (stage < 0 || stage > 2) return;
  g_Device.filter[stage][0] = mag == PLAT_FILTER_POINT ? PLAT_FILTER_POINT : PLAT_FILTER_LINEAR;
  g_Device.filter[stage][1] = min == PLAT_FILTER_POINT ? PLAT_FILTER_POINT : PLAT_FILTER_LINEAR;
}

void GlSetDrawState(const PlatGpuDrawState* s) { g_Device.state = *s; }
void GlGetDrawState(PlatGpuDrawState* s) { *s = g_Device.state; }
void GlSetEffect(const PlatGpuEffect* e) { g_Device.effect = *e; }

bool GlDrawQuad(const PlatGpuVertex* corners) {
  if (!g_Device.exists) return false;
  // A lost device takes draws and does nothing with them.
  if (g_Device.status != PLAT_GPU_READY) return true;
  if (!Live() || !BindTarget()) return false;
  if (!ApplyDrawState()) return false;
  gl.BindVertexArray(g_Device.vertexArray);
  gl.BindBuffer(GL_ARRAY_BUFFER, g_Device.vertexBuffer);
  // Fresh storage for every quad: writing into the storage an earlier draw still reads would
  // wait for that draw (on llvmpipe, for the whole frame so far).
  gl.BufferData(GL_ARRAY_BUFFER, sizeof(PlatGpuVertex) * 4, corners, GL_STREAM_DRAW);
  gl.DrawArrays(GL_TRIANGLE_STRIP, 0, 4);
  return true;
}

bool GlReadBack(PlatGpuTexture* handle, uint8_t* bgra, int width, int height, int pitch) {
  if (!Live() || !bgra) return false;
  GlTexture* t = handle ? Own(handle) : &g_Device.backBuffer;
  if (handle && (!OfThisDevice(t) || !t->renderTarget)) return false;
  if (width < 0 || height < 0 || width > t->width || height > t->height || pitch < width * 4) return false;
  if (width == 0 || height == 0) return true;
  if (!t->name || !TargetFramebuffer(t)) return false;
  ClearErrors();
  gl.PixelStorei(GL_PACK_ALIGNMENT, 4);
  if (pitch % 4 == 0) {
    gl.PixelStorei(GL_PACK_ROW_LENGTH, pitch / 4);
    gl.ReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, bgra);
  } else {
    std::vector<uint8_t> packed((size_t)width * height * 4);
    gl.PixelStorei(GL_PACK_ROW_LENGTH, 0);
    gl.ReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, packed.data());
    for (int y = 0; y < height; y++)
      memcpy(bgra + (size_t)y * pitch, packed.data() + (size_t)y * width * 4, (size_t)width * 4);
  }
  gl.PixelStorei(GL_PACK_ROW_LENGTH, 0);
  return gl.GetError() == GL_NO_ERROR;
}

bool GlSetTransform(int which, const float* matrix) {
  if (which < PLAT_GPU_WORLD || which > PLAT_GPU_PROJECTION || !matrix || !g_Device.exists) return false;
  memcpy(g_Device.transforms[which], matrix, sizeof g_Device.transforms[which]);
  return true;
}

bool GlGetTransform(int which, float* matrix) {
  if (which < PLAT_GPU_WORLD || which > PLAT_GPU_PROJECTION || !matrix || !g_Device.exists) return false;
  memcpy(matrix, g_Device.transforms[which], sizeof g_Device.transforms[which]);
  return true;
}

// ---------------------------------------------------------------------------------------------
// Presentation: a window's picture copied onto its default framebuffer and swapped.

// Both copy texels one for one (or by nearest texel when the window's drawable has another
// size), with B and R exchanged from the memory order the textures keep.
const char* const kPresentVertexShader = R"(
uniform vec4 uRect;     // x, y, width, height in window pixels, rows from the top
uniform vec2 uWindow;   // the drawable's size
void main() {
  vec2 corner = vec2(float(gl_VertexID & 1), float(gl_VertexID >> 1));
  vec2 p = uRect.xy + corner * uRect.zw;
  gl_Position = vec4(p.x / uWindow.x * 2.0 - 1.0, 1.0 - p.y / uWindow.y * 2.0, 0.0, 1.0);
}
)";

const char* const kPresentFragmentShader = R"(
uniform sampler2D uPicture;
uniform vec4 uRect;
uniform vec2 uWindow;
out vec4 fragColour;
void main() {
  ivec2 size = textureSize(uPicture, 0);
  ivec4 rect = ivec4(uRect);
  int x = int(gl_FragCoord.x) - rect.x;
  int y = int(uWindow.y) - 1 - int(gl_FragCoord.y) - rect.y;
  ivec2 t = ivec2(x * size.x / rect.z, y * size.y / rect.w);
  vec4 c = texelFetch(uPicture, clamp(t, ivec2(0), size - 1), 0);
  fragColour = vec4(c.b, c.g, c.r, 1.0);
}
)";

bool BuildPresentProgram() {
  Device& d = g_Device;
  if (d.presentProgram) return true;
  GLuint vs = CompileShader(GL_VERTEX_SHADER, VersionLines() + kPresentVertexShader);
  GLuint fs = vs ? CompileShader(GL_FRAGMENT_SHADER, VersionLines() + kPresentFragmentShader) : 0;
  GLuint p = fs ? gl.CreateProgram() : 0;
  if (p) {
    g_Count.programs++;
    gl.AttachShader(p, vs);
    gl.AttachShader(p, fs);
    gl.LinkProgram(p);
    GLint ok = 0;
    gl.GetProgramiv(p, GL_LINK_STATUS, &ok);
    if (!ok) {
      gl.DeleteProgram(p);
      g_Count.programs--;
      p = 0;
    }
  }
  for (GLuint shader : {vs, fs})
    if (shader) {
      gl.DeleteShader(shader);
      g_Count.shaders--;
    }
  if (!p) return false;
  d.presentProgram = p;
  d.presentRect = gl.GetUniformLocation(p, "uRect");
  d.presentWindow = gl.GetUniformLocation(p, "uWindow");
  gl.UseProgram(p);
  gl.Uniform1i(gl.GetUniformLocation(p, "uPicture"), 0);
  return true;
}

// Puts width x height B, G, R, A texels (rows packed) into a texture of the presentation,
// made or remade at that size.
bool UploadPicture(GLuint* name, int size[2], const uint8_t* bgra, int width, int height) {
  const PlatGpuCaps& caps = g_Device.caps;
  if (width > caps.maxTextureWidth || height > caps.maxTextureHeight) return false;
  ClearErrors();
  gl.ActiveTexture(GL_TEXTURE0);
  if (*name && (size[0] != width || size[1] != height)) DropTexture(name, true);
  if (!*name) {
    gl.GenTextures(1, name);
    if (!*name) return false;
    g_Count.textures++;
    gl.BindTexture(GL_TEXTURE_2D, *name);
    gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
    gl.TexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, width, height, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
    size[0] = width;
    size[1] = height;
  }
  gl.BindTexture(GL_TEXTURE_2D, *name);
  gl.PixelStorei(GL_UNPACK_ALIGNMENT, 4);
  gl.PixelStorei(GL_UNPACK_ROW_LENGTH, 0);
  gl.TexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, bgra);
  return gl.GetError() == GL_NO_ERROR;
}

void DrawPicture(GLuint name, float x, float y, float width, float height) {
  gl.BindTexture(GL_TEXTURE_2D, name);
  gl.Uniform4f(g_Device.presentRect, x, y, width, height);
  gl.DrawArrays(GL_TRIANGLE_STRIP, 0, 4);
}

// Vertical sync where the driver offers it, else none; set once for each window and context.
void SetSwapInterval(SDL_Window* window) {
  if (g_Device.intervalWindow == window) return;
  g_Device.intervalWindow = window;
  g_SwapInterval = 1;
  if (SDL_GL_SetSwapInterval(1) != 0) {
    SDL_GL_SetSwapInterval(0);
    g_SwapInterval = 0;
  }
}

bool Present(SDL_Window* window, const GlGpuPicture& p) {
  Device& d = g_Device;
  if (!window || !p.bgra || p.width < 1 || p.height < 1) return false;
  if (!d.exists || d.status != PLAT_GPU_READY || !Take(window, false)) return false;
  int dw = 0, dh = 0;
  SDL_GL_GetDrawableSize(window, &dw, &dh);
  int top = std::clamp(p.top, 0, std::max(0, dh - 1));
  bool ok = dw > 0 && dh > 0 && BuildPresentProgram() && UploadPicture(&d.picture, d.pictureSize, p.bgra, p.width, p.height);
  bool bar = ok && p.bar && p.barWidth > 0 && p.barHeight > 0 &&
             UploadPicture(&d.bar, d.barSize, p.bar, p.barWidth, p.barHeight);
  if (ok) {
    gl.BindFramebuffer(GL_FRAMEBUFFER, 0);
    gl.Viewport(0, 0, dw, dh);
    gl.Disable(GL_BLEND);
    gl.ClearColor(0, 0, 0, 1);
    gl.Clear(GL_COLOR_BUFFER_BIT);
    gl.UseProgram(d.presentProgram);
    gl.Uniform2f(d.presentWindow, float(dw), float(dh));
    gl.BindVertexArray(d.vertexArray);
    if (dh > top) DrawPicture(d.picture, 0.0f, float(top), float(dw), float(dh - top));
    if (bar) DrawPicture(d.bar, 0.0f, 0.0f, float(p.barWidth), float(p.barHeight));
    gl.BindTexture(GL_TEXTURE_2D, 0);
    ok = gl.GetError() == GL_NO_ERROR;
  }
  if (ok) {
    SetSwapInterval(window);
    SDL_GL_SwapWindow(window);
    g_Presentations++;
  }
  // The thread that presented is done with the frame: the context is free for the next one.
  LetGo();
  return ok;
}

// Every entry point holds the device's lock while it runs.
template <typename T>
struct LockedCall;
template <typename R, typename... A>
struct LockedCall<R (*)(A...)> {
  template <R (*F)(A...)>
  static R Call(A... a) {
    Entry e;
    return F(a...);
  }
};
#define LOCKED(f) &LockedCall<decltype(&f)>::template Call<&f>

}  // namespace

PlatGpuDriver g_GlGpu = {
    "opengl",
    LOCKED(GlCreateDevice),
    LOCKED(GlReleaseDevice),
    LOCKED(GlTestDevice),
    LOCKED(GlCreateTexture),
    LOCKED(GlReleaseTexture),
    LOCKED(GlWriteTexture),
    LOCKED(GlSetRenderTarget),
    LOCKED(GlClear),
    LOCKED(GlSetTexture),
    LOCKED(GlSetSamplerFilter),
    LOCKED(GlSetDrawState),
    LOCKED(GlGetDrawState),
    LOCKED(GlSetEffect),
    LOCKED(GlDrawQuad),
    LOCKED(GlReadBack),
    LOCKED(GlSetTransform),
    LOCKED(GlGetTransform),
};

bool GlGpuPresent(SDL_Window* window, const GlGpuPicture& picture) {
  Entry e;
  return Present(window, picture);
}

bool GlGpuCanPresent() { return g_Exists; }

void GlGpuSetPresentWindow(SDL_Window* window) {
  Entry e;
  g_PresentWindow = window;
}

bool PlatGpuPresentsFrames() {
  Entry e;
  return g_PresentWindow && g_Device.exists;
}

void PlatGpuLeaveThread() {
  Entry e;
  LetGo();
}

int GlGpuSwapInterval() {
  Entry e;
  return g_SwapInterval;
}

int GlGpuPresentations() {
  Entry e;
  return g_Presentations;
}

GlGpuObjects GlGpuObjectCount() {
  Entry e;
  return g_Count;
}

bool GlGpuContextAvailable() {
  Entry e;
  static int known = -1;
  if (known >= 0) return known == 1;
  if (g_Device.exists) return true;
  PlatGpuCaps caps;
  int refuse = g_RefuseCreations;
  g_RefuseCreations = 0;
  known = GlCreateDevice(16, 16, &caps) ? 1 : 0;
  g_RefuseCreations = refuse;
  GlReleaseDevice();
  return known == 1;
}

void GlGpuInjectLoss(bool resettable) {
  Entry e;
  Device& d = g_Device;
  if (!d.exists) return;
  if (d.status == PLAT_GPU_READY) LoseContext(resettable ? PLAT_GPU_NOT_RESET : PLAT_GPU_LOST);
  else d.status = resettable ? PLAT_GPU_NOT_RESET : PLAT_GPU_LOST;
}

void GlGpuRefuseDevice(int count) {
  Entry e;
  g_RefuseCreations = count;
}

void GlGpuSetCaps(const PlatGpuCaps* caps) {
  Entry e;
  g_CapsOverridden = caps != nullptr;
  if (caps) g_CapsOverride = *caps;
}

void GlGpuUseOnlyEs(bool only) {
  Entry e;
  g_OnlyEs = only;
}

bool GlGpuIsEs() {
  Entry e;
  return g_Device.exists && g_Device.es;
}

void GlGpuResetControls() {
  Entry e;
  g_RefuseCreations = 0;
  g_OnlyEs = false;
  g_CapsOverridden = false;
  GlGpuTakeAsNamed(false);
}

bool GlGpuPlainUpload(const uint8_t* bgra, int width, int height) {
  Entry e;
  Device& d = g_Device;
  if (!Live() || width < 1 || height < 1 || width > d.caps.maxTextureWidth || height > d.caps.maxTextureHeight)
    return false;
  if (d.plain.name && (d.plain.width != width || d.plain.height != height)) DropNames(&d.plain, true);
  if (!d.plain.name) {
    d.plain = GlTexture{width, height, PLAT_GPU_FORMAT_ARGB8, true, d.generation, 0, 0};
    if (!MakeTextureNames(&d.plain)) return false;
  }
  gl.ActiveTexture(GL_TEXTURE2);
  gl.BindTexture(GL_TEXTURE_2D, d.plain.name);
  gl.TexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, bgra);
  gl.BindTexture(GL_TEXTURE_2D, 0);
  return true;
}

bool GlGpuPlainReadBack(uint8_t* bgra, int width, int height) {
  Entry e;
  Device& d = g_Device;
  if (!Live() || width < 1 || height < 1 || width > d.width || height > d.height) return false;
  gl.BindFramebuffer(GL_FRAMEBUFFER, d.backBuffer.framebuffer);
  gl.ReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, bgra);
  return true;
}
