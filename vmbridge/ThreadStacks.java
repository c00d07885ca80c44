// The stacks of every thread of the VM as one text, for the trace when the VM did not end
// in time. ASCII only, every other character escaped as Java writes it (backslash, u, four
// hex digits): the code page of the trace may lack it.
package tessaly.vmbridge;

import java.util.Map;

public final class ThreadStacks {
    private ThreadStacks() {}

    public static String describe() {
        StringBuilder text = new StringBuilder();
        for (Map.Entry<Thread, StackTraceElement[]> entry : Thread.getAllStackTraces().entrySet()) {
            Thread thread = entry.getKey();
            text.append('"').append(thread.getName()).append("\" ")
                    .append(thread.isDaemon() ? "daemon " : "").append(thread.getState())
                    .append('\n');
            for (StackTraceElement frame : entry.getValue()) {
                text.append("    at ").append(frame).append('\n');
            }
        }
        StringBuilder ascii = new StringBuilder(text.length());
        for (int i = 0; i < text.length(); ++i) {
            char c = text.charAt(i);
            if (c == '\n' || (c >= ' ' && c < 0x7f)) {
                ascii.append(c);
            } else {
                ascii.append(String.format("\\u%04x", (int) c));
            }
        }
        return ascii.toString();
    }
}
