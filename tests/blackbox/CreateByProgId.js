// Creates a correlation by its programmatic identifier, as a scripting
// client does; exits 0 when the object was made.
var status = 1;
try {
    var correlation = new ActiveXObject("PvtCorrelator.GOR");
    if (typeof correlation == "object" && correlation != null) status = 0;
    correlation = null;
} catch (e) {
    WScript.Echo("creation failed: " + e.message + " (" + (e.number >>> 0).toString(16) + ")");
    status = 2;
}
CollectGarbage();
WScript.Quit(status);
