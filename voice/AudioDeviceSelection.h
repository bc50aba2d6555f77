#pragma once

class VoiceEngine;

// Chooses the agent's headset for capture, play and ring when one is listed ("Plantronics"
// or "PLTDA60" in its name; the last one listed wins), else keeps the engine's defaults.
void selectAudioDevices(VoiceEngine& engine);
