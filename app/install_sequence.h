#pragma once
// The handlers behind the wizard window's events.

// Created event: fills the version label and the install path, starts the
// agree-button unlock.
void OnWindowCreated();
// Enables the agree button 3 s after it starts; runs on its own thread.
void UnlockAgreeButton();
void OnAgreeClicked();

// The install work behind these three arrives with the install sequence;
// until then the buttons do nothing.
void OnChooseDirClicked();
void OnStartInstallClicked();
void OnFinishClicked();

// How long the agreement stays locked.
constexpr unsigned kAgreeUnlockDelayMs = 3000;
