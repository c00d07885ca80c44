// A failure thrown a few frames below main, so that its report has a trace.
package com.quenlor.quillet;

public class Failure {
    public static void fail(String why) {
        throw new IllegalStateException(why);
    }
}
