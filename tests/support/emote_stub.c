/* A stand-in for the E-mote bridge library, so tests can check how the runtime takes it up:
   built once with every entry point and once with one missing. */
#define ENTRY(name) void EmoteBridge_##name(void) {}
ENTRY(CreateDriver) ENTRY(SetTextureFilter) ENTRY(ReleaseDriver) ENTRY(CreatePlayer)
ENTRY(SetRenderTarget) ENTRY(DeletePlayer) ENTRY(PreparePlayer) ENTRY(StopEffect)
ENTRY(Trigger) ENTRY(SetEnabled) ENTRY(SetSwitch) ENTRY(SetFactor1) ENTRY(SetFactor2)
ENTRY(SetFactor3) ENTRY(SetPosition) ENTRY(SetScale) ENTRY(SetRotation) ENTRY(SetColor)
ENTRY(CountVariables) ENTRY(GetVariableName) ENTRY(GetVariable) ENTRY(SetVariable)
ENTRY(StartEffect) ENTRY(IsTrackPlaying) ENTRY(IsTimelinePlaying) ENTRY(PlayTimeline)
ENTRY(StopTimeline) ENTRY(SetTimelineBlend) ENTRY(FadeOutTimeline) ENTRY(IsAnimating)
ENTRY(IsBusy) ENTRY(Advance)
#ifndef WITHOUT_DRAW
ENTRY(DrawPlayer)
#endif
