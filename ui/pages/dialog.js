// The dialog's texts come from its opener; without any it is the exit question.
import { $, on } from "@sciter";

document.on("ready", () => {
  const parameters = Window.this.parameters;
  if (!parameters) return;
  $("#title").textContent = parameters.title;
  $("#tipContent").textContent = parameters.message;
  const buttons = parameters.buttons || [];
  if (buttons.length >= 2) {
    $("#cancel").textContent = buttons[0];
    $("#confirm").textContent = buttons[1];
  } else if (buttons.length === 1) {
    $("#confirm").textContent = buttons[0];
  }
  $("#confirm").hidden = buttons.length === 0;
  $("#cancel").hidden = buttons.length < 2;
});

on("click", "#confirm", () => Window.this.close(true));
on("click", "#cancel", () => Window.this.close(false));
