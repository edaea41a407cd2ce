#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "app/FinishReason.hpp"
#include "app/PanelModel.hpp"

namespace vesperon {

// What the panel may ask of its owner (the session controller).
class PanelOwner {
  public:
    virtual ~PanelOwner() = default;

    virtual PanelOwnerState panelState() const = 0;
    virtual void storeLastDuration(int seconds) = 0;
    virtual void setFinishReason(FinishReason reason) = 0;
    virtual void start(int seconds) = 0;
    virtual void stop() = 0;
    virtual void restore() = 0;
    virtual void runTask() = 0;
    virtual void watchAgents() = 0;
};

// The session panel without its drawing: its own fields, the clicks and text changes
// it turns into calls on its owner, and the model the view draws after every
// refresh. The owner is a non-owning reference and may be absent (image previews).
class SessionPanel {
  public:
    explicit SessionPanel(PanelOwner* owner = nullptr) : owner_(owner) {}

    void setOwner(PanelOwner* owner) { owner_ = owner; }
    PanelOwner* owner() const { return owner_; }

    const PanelFields& fields() const { return fields_; }
    int selectedSeconds() const { return fields_.selectedSeconds; }
    bool customValid() const { return fields_.customValid; }
    void setSelectedSeconds(int seconds) { fields_.selectedSeconds = seconds; }
    void setTotalSeconds(double seconds) { fields_.totalSeconds = seconds; }
    // Puts the panel into its image-preview state.
    void setPreview(double remaining, double total);

    // Selecting a preset from the settings menu: valid entry, that duration.
    void choosePreset(int seconds);

    // A quick duration button.
    void selectDuration(int seconds);
    // A text change in either custom input.
    void customTextChanged(std::string_view hours, std::string_view minutes);
    void mainAction();
    void taskAction();
    void agentAction();

    // The derived state, computed afresh from the owner and the fields.
    PanelModel model(const EndTimeFormatter& formatEnd = shortLocalTime) const;

  private:
    PanelOwner* owner_;
    PanelFields fields_;
};

} // namespace vesperon
