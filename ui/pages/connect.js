// The notice goes where its opener asks: the main window's top left corner,
// as showReconnectting(left, top) receives it.
const { left, top } = Window.this.parameters || {};
if (Number.isFinite(left) && Number.isFinite(top)) Window.this.move(left, top);
